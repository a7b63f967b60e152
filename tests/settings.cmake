# The shortcut recorder, the settings window with its section about this desktop, and the shortcut
# bindings of menus and views.
tarnwick_add_test(tst_recorderfield SOURCES tst_recorderfield.cpp LIBS tarnwick_testlib tarnwick_hotkeys)
tarnwick_add_test(tst_shortcutbindings SOURCES tst_shortcutbindings.cpp LIBS tarnwick_testlib tarnwick_hotkeys)
tarnwick_add_test(tst_settingsview SOURCES tst_settingsview.cpp LIBS tarnwick_testlib tarnwick_app)
tarnwick_add_test(tst_desktopsettings SOURCES tst_desktopsettings.cpp LIBS tarnwick_testlib tarnwick_app)

# Draws the README's pictures (scripts/screenshots.sh); not a test.
add_executable(settings_screenshots screenshots/settings_screenshots.cpp)
target_link_libraries(settings_screenshots PRIVATE tarnwick_testlib tarnwick_app Qt6::Test)
