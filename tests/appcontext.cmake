tarnwick_add_test(tst_appcontext SOURCES tst_appcontext.cpp LIBS tarnwick_app tarnwick_testlib LABELS unit)
