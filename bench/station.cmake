# Station runs: the run's overhead against the time its steps wait on the
# pack, and the time to write a record of 200 measurements.
if(TARGET quorlex-bms-cli AND TARGET bms_sim AND TARGET bms_station)
  add_executable(bench_station ${CMAKE_CURRENT_LIST_DIR}/station_run.cpp)
  target_compile_definitions(bench_station PRIVATE BMS_CLI="$<TARGET_FILE:quorlex-bms-cli>"
    STATION_RECIPES="${PROJECT_SOURCE_DIR}/docs/recipes")
  target_link_libraries(bench_station PRIVATE bms_station bms_sim bms_options)
  add_dependencies(bench_station quorlex-bms-cli)
endif()
