# The settings file, the hot-key service and the Hotkeys namespace.
tarnwick_add_test(tst_settingsuserdefaults SOURCES tst_settingsuserdefaults.cpp LIBS tarnwick_platform)

# The X11 tests talk to the server themselves, as a second client (XTestDriver).
pkg_check_modules(HOTKEYS_TEST_XCB REQUIRED IMPORTED_TARGET xcb xcb-xtest)
tarnwick_add_test(tst_x11hotkeyservice SOURCES tst_x11hotkeyservice.cpp
  LIBS tarnwick_hotkeys tarnwick_platform_x11 tarnwick_platform_fake tarnwick_testlib tarnwick_x11testlib
  PkgConfig::HOTKEYS_TEST_XCB LABELS x11)

tarnwick_add_test(tst_hotkeys SOURCES tst_hotkeys.cpp LIBS tarnwick_hotkeys tarnwick_platform_x11 tarnwick_testlib)
