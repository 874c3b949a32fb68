# The seam cases as a Windows program, run against Windows' own Core Audio
# (under Wine 10 by the conformance.wine10 test of the Linux tree).
add_executable(seam_conformance tests/conformance/windows_leg.cpp tests/conformance/seam_cases.cpp
                                tests/conformance/seam_check.cpp tests/conformance/seam_differences.cpp
                                platform/windows/core_audio_guids.cpp)
target_include_directories(seam_conformance PRIVATE ${CMAKE_SOURCE_DIR})
target_link_libraries(seam_conformance PRIVATE ole32 uuid)
if(MINGW)
  target_link_options(seam_conformance PRIVATE -static)
endif()
