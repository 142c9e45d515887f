# The port and exchange settings dialogs (Qt). Included from link/CMakeLists.txt.
add_library(pm_link_ui STATIC
  ${CMAKE_CURRENT_LIST_DIR}/obrport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/obrport.h
  ${CMAKE_CURRENT_LIST_DIR}/obrNastr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/obrNastr.h)
set_target_properties(pm_link_ui PROPERTIES AUTOMOC ON AUTOUIC ON)
# The public headers hold the generated Ui classes as members.
target_include_directories(pm_link_ui PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/pm_link_ui_autogen/include)
target_include_directories(pm_link_ui PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(pm_link_ui PUBLIC pm_link pm_ui Qt6::Widgets)
pm_use_qt_pch(pm_link_ui)
