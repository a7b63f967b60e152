# The command channel's cases run on a session bus of their own.
tarnwick_add_test(tst_appcontext SOURCES tst_appcontext.cpp LIBS tarnwick_app tarnwick_testlib LABELS unit
  PRIVATE_BUS)
target_compile_definitions(tst_appcontext PRIVATE TARNWICK_BINARY="$<TARGET_FILE:tarnwick>")
add_dependencies(tst_appcontext tarnwick)
