# The window's cost: CPU time from a received telemetry frame to the
# refreshed window, the tool's CPU share while it samples a virtual pack, and
# the longest event-loop stall during a sweep, a settings write and upgrades.
if(BMS_BUILD_GUI)
  add_executable(bench_window_frames ${CMAKE_CURRENT_LIST_DIR}/window_frames.cpp)
  target_link_libraries(bench_window_frames PRIVATE bms_window bms_options)
  set_target_properties(bench_window_frames PROPERTIES AUTOUIC OFF)
  add_executable(bench_window_sampling ${CMAKE_CURRENT_LIST_DIR}/window_sampling.cpp)
  target_link_libraries(bench_window_sampling PRIVATE bms_window bms_sim bms_options)
  set_target_properties(bench_window_sampling PROPERTIES AUTOUIC OFF)
  add_executable(bench_window_stalls ${CMAKE_CURRENT_LIST_DIR}/window_stalls.cpp)
  target_link_libraries(bench_window_stalls PRIVATE bms_window bms_sim bms_testsupport bms_options)
  set_target_properties(bench_window_stalls PROPERTIES AUTOUIC OFF)
endif()
# The window while four Station-tab fixtures test packs: its longest
# event-loop stall and its CPU.
if(BMS_BUILD_GUI)
  add_executable(bench_window_station ${CMAKE_CURRENT_LIST_DIR}/window_station.cpp)
  target_link_libraries(bench_window_station PRIVATE bms_window bms_sim bms_testsupport bms_options)
  set_target_properties(bench_window_station PROPERTIES AUTOUIC OFF)
  target_compile_definitions(bench_window_station PRIVATE BMS_CLI="$<TARGET_FILE:quorlex-bms-cli>"
      STATION_RECIPES="${PROJECT_SOURCE_DIR}/docs/recipes")
  add_dependencies(bench_window_station quorlex-bms-cli)
endif()
