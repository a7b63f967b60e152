# Shortcut text on its hot paths (recorder repaints, menu updates):
#   scripts/with-xvfb.sh build/bench/bench_shortcuttext     (real X keymap; falls back to the fake)
add_executable(bench_shortcuttext ${CMAKE_CURRENT_LIST_DIR}/bench_shortcuttext.cpp)
target_link_libraries(bench_shortcuttext PRIVATE tarnwick_hotkeys tarnwick_platform_x11 tarnwick_platform_fake)
