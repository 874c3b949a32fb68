# One list per library, so that the Windows build and the portable builds
# compile exactly the same logic.
set(AUDIOTAP_LOGIC_SOURCES
  app/command_line.cpp
  app/stop_flag.cpp
  app/run_sequences.cpp
  events/json_escape.cpp
  events/event_lines.cpp
)

set(AUDIOTAP_PORTABLE_SOURCES
  platform/portable/com_memory.cpp
  platform/portable/text_conversion.cpp
)

set(AUDIOTAP_SIM_SOURCES
  platform/sim/virtual_clock.cpp
  platform/sim/sim_runtime.cpp
)

set(AUDIOTAP_PULSE_SOURCES)
