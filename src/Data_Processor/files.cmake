# Files and folders, for every part of the tool: files and their names made
# durable (a file written whole or not at all, its folder synced), the
# tool's data and settings folders, CSV fields and the system's words for an
# error.
add_library(bms_files STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Csv.cpp ${CMAKE_CURRENT_LIST_DIR}/Csv.h
  ${CMAKE_CURRENT_LIST_DIR}/DataFolders.cpp ${CMAKE_CURRENT_LIST_DIR}/DataFolders.h
  ${CMAKE_CURRENT_LIST_DIR}/DurableFile.cpp ${CMAKE_CURRENT_LIST_DIR}/DurableFile.h
  ${CMAKE_CURRENT_LIST_DIR}/FileSync.cpp ${CMAKE_CURRENT_LIST_DIR}/FileSync.h
  ${CMAKE_CURRENT_LIST_DIR}/Utf8.h
)
target_include_directories(bms_files PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_files PUBLIC Qt6::Core bms_options)
