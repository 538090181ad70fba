# Throughput of the receive assembly and dispatch in bytes per second: a long
# stream of valid telemetry answers fed in random chunk sizes, hooks doing
# nothing. Run: bench_link_assembly
add_executable(bench_link_assembly ${CMAKE_CURRENT_LIST_DIR}/link_assembly.cpp)
target_include_directories(bench_link_assembly PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(bench_link_assembly PRIVATE bms_link benchmark::benchmark bms_options)
