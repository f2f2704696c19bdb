# The Debian package: cpack -G DEB in a build tree (configure it with
# -DBUILD_TESTING=OFF to build without the test libraries).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME nivlets)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "nivlets maintainers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash-card trainer that lives in the system tray")
# Lines of at most 80 characters, as the Debian tools expect them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "nivlets asks question cards, kept in books, one at a time from the system"
    "tray, on request or automatically every few minutes. Every answer moves the"
    "card's knowledge rate at once, and the next card is drawn with a strong lean"
    "towards the cards known least. It also lays out a crossword from the answers"
    "of the active cards."
    ""
    "The cards are stored in one SQLite file in the user's data folder, where the"
    "launcher puts a sample database at the first start.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${NIVLETS_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
