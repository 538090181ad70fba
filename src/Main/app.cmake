# The window's logic over the UI interface: connection toggle, sampling loop,
# settings commands, selectors, simulator tab, start-up and the composition
# helpers. No widgets here.
add_library(bms_app STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/Connection.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Connection.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Sampling.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Sampling.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Selectors.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Selectors.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Settings.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Settings.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Simulator.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Simulator.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Startup.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Startup.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Wiring.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Wiring.h
)
target_include_directories(bms_app PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/src/Data_Display ${PROJECT_SOURCE_DIR}/src/USBCOM ${PROJECT_SOURCE_DIR}/src/Workbook)
target_link_libraries(bms_app PUBLIC bms_request bms_link bms_display bms_serial bms_upgrade
  bms_ports bms_workbooks bms_protocol bms_options)
