# The three workbooks: their buttons, opening, rows and ending.
add_library(bms_workbooks STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Workbooks.cpp ${CMAKE_CURRENT_LIST_DIR}/Workbooks.h
)
target_include_directories(bms_workbooks PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_workbooks PUBLIC bms_rows bms_workbook bms_protocol bms_options)
