# The list of serial ports for the port box, and the watch that refreshes it
# when devices come and go.
add_library(bms_ports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/PortList.cpp ${CMAKE_CURRENT_LIST_DIR}/PortList.h
  ${CMAKE_CURRENT_LIST_DIR}/PortWatch.cpp ${CMAKE_CURRENT_LIST_DIR}/PortWatch.h
)
target_include_directories(bms_ports PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_ports PUBLIC bms_protocol Qt6::Core bms_options)
