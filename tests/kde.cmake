# Under a headless KWin on a private session bus, started by the test itself (skipped, saying why,
# where kwin_wayland is missing).
tarnwick_add_test(tst_kde SOURCES tst_kde.cpp PRIVATE_BUS
  LIBS tarnwick_platform_kde tarnwick_platform_wayland tarnwick_testlib tarnwick_x11testlib
  tarnwick_waylandtestlib LABELS wayland TIMEOUT 300)
target_compile_definitions(tst_kde PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
add_dependencies(tst_kde tarnwick)
# KWin, tarnwick and the windows share the two cores: one at a time keeps the waits short.
set_tests_properties(tst_kde PROPERTIES RUN_SERIAL TRUE)
