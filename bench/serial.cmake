# Round-trip latency of the serial port component over a pseudo-terminal.
# With the receive assembly (bms_link) in the build, the time runs to the
# dispatch of the answer; without it, to the last byte of the answer.
add_executable(bench_serial_roundtrip ${CMAKE_CURRENT_LIST_DIR}/serial_roundtrip.cpp)
target_link_libraries(bench_serial_roundtrip PRIVATE bms_serial bms_options)
if(TARGET bms_link AND TARGET bms_testsupport)
  target_link_libraries(bench_serial_roundtrip PRIVATE bms_link bms_testsupport)
  target_compile_definitions(bench_serial_roundtrip PRIVATE BMS_BENCH_WITH_LINK=1)
endif()
