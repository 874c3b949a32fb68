# Sources by folder, so that the Windows build and the portable builds compile
# exactly the same logic and a new file needs no list edit.
file(GLOB AUDIOTAP_LOGIC_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp
  ${CMAKE_SOURCE_DIR}/events/*.cpp
  ${CMAKE_SOURCE_DIR}/endpoints/*.cpp
  ${CMAKE_SOURCE_DIR}/pipeline/*.cpp)
list(FILTER AUDIOTAP_LOGIC_SOURCES EXCLUDE REGEX "/app/main\\.cpp$")

file(GLOB AUDIOTAP_PORTABLE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/portable/*.cpp)
file(GLOB AUDIOTAP_SIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/sim/*.cpp)
file(GLOB AUDIOTAP_PULSE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/pulse/*.cpp)
