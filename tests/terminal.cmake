tarnwick_add_test(tst_terminaltable SOURCES tst_terminaltable.cpp LIBS tarnwick_platform_fake)
target_compile_definitions(tst_terminaltable PRIVATE
  TARNWICK_TERMINALS_TSV="${PROJECT_SOURCE_DIR}/data/terminals.tsv")
tarnwick_add_test(tst_desktopnotifier SOURCES tst_desktopnotifier.cpp LIBS tarnwick_platform_x11)
tarnwick_add_test(tst_x11frontwindow SOURCES tst_x11frontwindow.cpp LIBS tarnwick_platform_x11
  tarnwick_x11testlib LABELS x11)
pkg_check_modules(TST_XCB REQUIRED IMPORTED_TARGET xcb)
target_link_libraries(tst_x11frontwindow PRIVATE PkgConfig::TST_XCB)
tarnwick_add_test(tst_terminal_x11 SOURCES tst_terminal_x11.cpp
  LIBS tarnwick_app tarnwick_platform_x11 tarnwick_testlib tarnwick_x11testlib LABELS x11)
