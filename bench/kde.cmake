# Shortcut latency through kglobalaccel under a headless KWin (run inside dbus-run-session).
add_executable(bench_kde ${CMAKE_CURRENT_LIST_DIR}/bench_kde.cpp)
target_link_libraries(bench_kde PRIVATE tarnwick_platform_kde tarnwick_platform_wayland
  tarnwick_waylandtestlib tarnwick_x11testlib Qt6::DBus)
