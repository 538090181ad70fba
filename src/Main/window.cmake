# The window: the designer form, the widget side of the UI interface, the
# composition root and the program entry.
add_library(bms_window STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MainForm.ui
  ${CMAKE_CURRENT_LIST_DIR}/MainForm.cpp ${CMAKE_CURRENT_LIST_DIR}/MainForm.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowWiring.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WidgetHost.cpp ${CMAKE_CURRENT_LIST_DIR}/WidgetHost.h
  ${CMAKE_CURRENT_LIST_DIR}/ShapeWidget.cpp ${CMAKE_CURRENT_LIST_DIR}/ShapeWidget.h
  ${CMAKE_CURRENT_LIST_DIR}/GridCells.cpp ${CMAKE_CURRENT_LIST_DIR}/GridCells.h
  ${CMAKE_CURRENT_LIST_DIR}/KeyFilters.cpp ${CMAKE_CURRENT_LIST_DIR}/KeyFilters.h
  ${CMAKE_CURRENT_LIST_DIR}/MemoFollow.cpp ${CMAKE_CURRENT_LIST_DIR}/MemoFollow.h
  ${CMAKE_CURRENT_LIST_DIR}/MiddleElide.cpp ${CMAKE_CURRENT_LIST_DIR}/MiddleElide.h
  ${CMAKE_CURRENT_LIST_DIR}/SteadyWidths.cpp ${CMAKE_CURRENT_LIST_DIR}/SteadyWidths.h
  ${CMAKE_CURRENT_LIST_DIR}/TrafficModel.cpp ${CMAKE_CURRENT_LIST_DIR}/TrafficModel.h
  ${CMAKE_CURRENT_LIST_DIR}/TrafficWindow.cpp ${CMAKE_CURRENT_LIST_DIR}/TrafficWindow.h
)
set_target_properties(bms_window PROPERTIES AUTOUIC ON AUTOMOC ON)
# ui_MainForm.h is generated into the autogen folder; tests and tools that
# drive the form include it too.
target_include_directories(bms_window PUBLIC ${CMAKE_CURRENT_LIST_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/bms_window_autogen/include)
target_link_libraries(bms_window PUBLIC bms_app bms_serial bms_link bms_display bms_upgrade
  bms_workbooks bms_workbook_view bms_trends_view bms_station_tab bms_bus_tab bms_ports bms_request bms_frames bms_protocol Qt6::Widgets bms_options)


qt_add_executable(quorlex-bms ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
set_target_properties(quorlex-bms PROPERTIES WIN32_EXECUTABLE ON)
target_link_libraries(quorlex-bms PRIVATE bms_window bms_options)
