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
)
set_target_properties(bms_window PROPERTIES AUTOUIC ON AUTOMOC ON)
# ui_MainForm.h is generated into the autogen folder; tests and tools that
# drive the form include it too.
target_include_directories(bms_window PUBLIC ${CMAKE_CURRENT_LIST_DIR}
  ${CMAKE_CURRENT_BINARY_DIR}/bms_window_autogen/include)
target_link_libraries(bms_window PUBLIC bms_app bms_protocol Qt6::Widgets bms_options)

# The areas the window wires in, as far as they are part of the build.
foreach(_part SERIAL:bms_serial LINK:bms_link DISPLAY:bms_display UPGRADE:bms_upgrade
        WORKBOOKS:bms_workbooks VIEW:bms_workbook_view PORTS:bms_ports REQUEST:bms_request)
  string(REPLACE ":" ";" _pair ${_part})
  list(GET _pair 0 _flag)
  list(GET _pair 1 _lib)
  if(TARGET ${_lib})
    target_link_libraries(bms_window PUBLIC ${_lib})
    target_compile_definitions(bms_window PUBLIC BMS_HAVE_${_flag})
  endif()
endforeach()

qt_add_executable(quorlex-bms ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
set_target_properties(quorlex-bms PROPERTIES WIN32_EXECUTABLE ON)
target_link_libraries(quorlex-bms PRIVATE bms_window bms_options)
