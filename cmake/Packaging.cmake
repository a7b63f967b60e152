# The Debian package, built by CPack from the install layout: `bash scripts/package.sh`.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "The Tarnwick developers")
set(CPACK_PACKAGE_CONTACT "Tarnwick developers <maintainers@tarnwick.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "correct the selected text in any application with a shortcut")
# Debian shows the description as it is: lines of at most 80 characters.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Tarnwick corrects text in place, in whatever application you are working in."
  "Select some text, release one of two global shortcuts, and the selection is"
  "replaced by its corrected version: Ctrl+Shift+E fixes spelling and grammar,"
  "Ctrl+Alt+E makes the text formal. It copies the selection, sends it to a"
  "correction backend, pastes the result and gives the previous clipboard back."
  "The bundled backend works offline with GNU Aspell and codespell's table of"
  "common misspellings.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # tarnwick_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_RELEASE "")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarnwick.org/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the programs load or read at run time, which the shared-library scan cannot see: Qt's
# platform plugins and Aspell's English dictionary. The backend's word tables (WordNet, codespell,
# SCOWL) are built into it, so those packages are needed only to build.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6, aspell-en")
# Wayland sessions, the session bus of the command channel, opening the help page, Qt's
# translations (the names of keys and modifiers).
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "qt6-wayland, default-dbus-session-bus | dbus-session-bus, xdg-utils, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

# Debian wants the copyright and a changelog in the package's documentation directory.
set(tarnwick_package_doc ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${tarnwick_package_doc})
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${tarnwick_package_doc}/changelog @ONLY)
add_custom_command(OUTPUT ${tarnwick_package_doc}/changelog.gz
  COMMAND ${GZIP} -9n -c ${tarnwick_package_doc}/changelog > ${tarnwick_package_doc}/changelog.gz
  DEPENDS ${tarnwick_package_doc}/changelog)
add_custom_target(tarnwick_package_doc ALL DEPENDS ${tarnwick_package_doc}/changelog.gz)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${tarnwick_package_doc}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)

include(CPack)
