# The settings file, the hot-key service and the Hotkeys namespace.
tarnwick_add_test(tst_settingsuserdefaults SOURCES tst_settingsuserdefaults.cpp LIBS tarnwick_platform)

# The X11 tests talk to the server themselves, as a second client.
pkg_check_modules(TST_XCB REQUIRED IMPORTED_TARGET xcb xcb-xtest)
tarnwick_add_test(tst_x11hotkeyservice SOURCES tst_x11hotkeyservice.cpp XTestClient.h
  LIBS tarnwick_platform_x11 tarnwick_testlib PkgConfig::TST_XCB LABELS x11)
