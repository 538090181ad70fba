# Station records: a run's commit to SQLite, forwarding to PostgreSQL (a
# throw-away cluster unless a URL is given), searches and reports on a
# database of a million runs, exports of a hundred thousand, the line-quality
# figures of a million runs of 60 measurements.
if(TARGET bms_records AND TARGET bms_testsupport)
  foreach(b commit forward search export quality)
    add_executable(bench_records_${b} ${CMAKE_CURRENT_LIST_DIR}/records_${b}.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordsBench.h)
    target_link_libraries(bench_records_${b} PRIVATE bms_records bms_testsupport bms_options)
    target_compile_definitions(bench_records_${b} PRIVATE BMS_PG_CLUSTER="${PROJECT_SOURCE_DIR}/scripts/pg-test-cluster"
      BMS_CLI="$<TARGET_FILE:quorlex-bms-cli>")
  endforeach()
  add_dependencies(bench_records_search quorlex-bms-cli)
  add_dependencies(bench_records_export quorlex-bms-cli)
  add_dependencies(bench_records_quality quorlex-bms-cli)
endif()

# Qt SQL against libpq for the forwarder's statements (needs libpq-dev).
pkg_check_modules(LIBPQ IMPORTED_TARGET libpq)
if(TARGET bms_records AND LIBPQ_FOUND)
  add_executable(bench_records_pgclient ${CMAKE_CURRENT_LIST_DIR}/records_pgclient.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordsBench.h)
  target_link_libraries(bench_records_pgclient PRIVATE bms_records bms_options PkgConfig::LIBPQ)
  target_compile_definitions(bench_records_pgclient PRIVATE BMS_PG_CLUSTER="${PROJECT_SOURCE_DIR}/scripts/pg-test-cluster")
endif()
