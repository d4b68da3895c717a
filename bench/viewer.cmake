# The viewer measured from outside under Wine against the stand-in, beside a minimal tray
# program of our own (Windows build only).
if(WIN32 AND TARGET VORLIXViewer AND TARGET unitsim_lib)
  add_executable(minimal_tray WIN32 ${CMAKE_CURRENT_LIST_DIR}/minimal_tray.cpp)
  target_link_libraries(minimal_tray PRIVATE shell32 user32)
  add_executable(viewer_bench ${CMAKE_CURRENT_LIST_DIR}/viewer_bench.cpp
                              ${CMAKE_CURRENT_LIST_DIR}/viewer_driver.cpp)
  target_link_libraries(viewer_bench PRIVATE unitsim_lib user32 gdi32)
  target_compile_definitions(viewer_bench PRIVATE
    VIEWER_EXE="$<TARGET_FILE:VORLIXViewer>" MINIMAL_TRAY_EXE="$<TARGET_FILE:minimal_tray>")
  add_dependencies(viewer_bench VORLIXViewer minimal_tray)
endif()
# The long soak against the stand-in cycling its faults (figures, never a test).
if(WIN32 AND TARGET VORLIXViewer AND TARGET unitsim_lib)
  add_executable(viewer_soak ${CMAKE_CURRENT_LIST_DIR}/soak.cpp
                             ${CMAKE_CURRENT_LIST_DIR}/viewer_driver.cpp)
  target_link_libraries(viewer_soak PRIVATE unitsim_lib user32 gdi32 psapi)
  target_compile_definitions(viewer_soak PRIVATE VIEWER_EXE="$<TARGET_FILE:VORLIXViewer>")
  add_dependencies(viewer_soak VORLIXViewer)
endif()
# "Connect" to login at the new address from each state of the worker.
if(WIN32 AND TARGET VORLIXViewer AND TARGET unitsim_lib)
  add_executable(viewer_connect ${CMAKE_CURRENT_LIST_DIR}/connect_move.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/viewer_driver.cpp)
  target_link_libraries(viewer_connect PRIVATE unitsim_lib user32 gdi32)
  target_compile_definitions(viewer_connect PRIVATE VIEWER_EXE="$<TARGET_FILE:VORLIXViewer>")
  add_dependencies(viewer_connect VORLIXViewer)
endif()
