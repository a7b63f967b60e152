# What the terminal mode adds at the start of a run (front window, selection owner, reading it):
#   scripts/with-xvfb.sh build/bench/bench_terminal
add_executable(bench_terminal ${CMAKE_CURRENT_LIST_DIR}/bench_terminal.cpp)
target_link_libraries(bench_terminal PRIVATE tarnwick_platform_x11 tarnwick_platform_fake)
