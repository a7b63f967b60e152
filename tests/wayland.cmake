# Under a headless sway started by the test itself (skipped, saying why, where sway is missing).
tarnwick_add_test(tst_wayland SOURCES tst_wayland.cpp
  LIBS tarnwick_testlib tarnwick_x11testlib tarnwick_waylandtestlib LABELS wayland TIMEOUT 300)
target_compile_definitions(tst_wayland PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>"
  TARNWICK_GTK_TARGET="${CMAKE_CURRENT_SOURCE_DIR}/waylandtarget/gtk_target.py")
add_dependencies(tst_wayland tarnwick)
# Its compositor, windows and clipboard are its own, but several tarnwick instances and windows
# share the two cores: one at a time keeps the waits short.
set_tests_properties(tst_wayland PROPERTIES RUN_SERIAL TRUE)
