# Renders the feedback panel, the tray icons and the menu to PNG files for a visual check:
#   QT_QPA_PLATFORM=offscreen build/bench/ui_snapshots <directory>
# On an X display it also takes screenshots of the real panel (run it with and without xcompmgr).
add_executable(ui_snapshots ${CMAKE_CURRENT_LIST_DIR}/ui_snapshots.cpp)
target_link_libraries(ui_snapshots PRIVATE tarnwick_app tarnwick_platform_fake tarnwick_platform_x11 Qt6::Test)

# The feedback panel's periodic work, on a real X display:
#   bash scripts/with-xvfb.sh build/bench/bench_ui
add_executable(bench_ui ${CMAKE_CURRENT_LIST_DIR}/bench_ui.cpp)
target_link_libraries(bench_ui PRIVATE tarnwick_app tarnwick_platform_fake tarnwick_platform_x11 Qt6::Test)
