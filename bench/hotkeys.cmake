# Dispatch cost of a hot-key press with 50 named shortcuts (target: under 50 us per press).
add_executable(bench_hotkeys ${CMAKE_CURRENT_LIST_DIR}/bench_hotkeys.cpp)
target_link_libraries(bench_hotkeys PRIVATE tarnwick_hotkeys tarnwick_platform_fake)
