# The running product under a headless sway: shortcut-to-text latency in a native Wayland window.
#   build/bench/wayland_bench [runs]
if(TARGET tarnwick_waylandtestlib AND TARGET tarnwick_x11testlib AND TARGET tarnwick_testlib)
  add_executable(wayland_bench ${CMAKE_CURRENT_LIST_DIR}/wayland_bench.cpp)
  target_link_libraries(wayland_bench PRIVATE tarnwick_testlib tarnwick_x11testlib tarnwick_waylandtestlib
    Qt6::Gui Qt6::Test)
  target_compile_definitions(wayland_bench PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
  add_dependencies(wayland_bench tarnwick)
endif()
