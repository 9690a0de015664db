# Debian packages through CPack (scripts/package.sh). Two packages, so that only the front end
# pulls in Qt:
#   vekmrk     the command-line programs vekmrkenc and vekmrkdec with their manual pages;
#   vekmrkwin  the front end with its manual page, help file, desktop entry and icon; it depends
#              on vekmrk (the programs it starts), on Arial-metric fonts and, through
#              dpkg-shlibdeps, on the Qt 6 libraries it links.
# The programs look for the system-wide owner name in <sysconfdir>/vekmrk as configured, so a
# package for /usr is built from a tree configured with CMAKE_INSTALL_PREFIX=/usr (sysconfdir
# /etc); from any other tree the relative place <bin>/../etc/vekmrk still works.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vekmrk)
set(CPACK_PACKAGE_VENDOR "Vek Audio Watermark developers")
set(CPACK_PACKAGE_CONTACT "Vek Audio Watermark developers <dev@vekmrk.example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL cli)
if(TARGET vekmrkwin)
    list(APPEND CPACK_COMPONENTS_ALL gui)
endif()
set(CPACK_COMPONENT_CLI_DISPLAY_NAME "Command-line programs")
set(CPACK_COMPONENT_CLI_DESCRIPTION
    "audio watermark encoder and decoder for 16-bit PCM WAV files
vekmrkenc hides a short hexadecimal payload in WAV audio as an inaudible
spread-spectrum watermark, on a public layer or on a private layer keyed by
the installation's owner name; vekmrkdec finds every packet of the mark and
reports its payloads and time stamps.")
set(CPACK_COMPONENT_GUI_DISPLAY_NAME "Front end")
set(CPACK_COMPONENT_GUI_DESCRIPTION
    "windowed front end of the vekmrk audio watermark programs
vekmrkwin collects the choices for an encode or decode job in dialogs, starts
vekmrkenc or vekmrkdec and follows the job through its progress log.")
set(CPACK_COMPONENT_GUI_DEPENDS cli)

# Every Debian package carries its copyright file in /usr/share/doc/<package>. No Homepage
# field: the project has no public web site.
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vekmrk COMPONENT cli)
if(TARGET vekmrkwin)
    install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vekmrkwin COMPONENT gui)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_CLI_PACKAGE_NAME vekmrk)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME vekmrkwin)
# The windows are laid out for Arial's metrics. Liberation Sans has them, and fontconfig gives
# it for Arial once installed; without it Arial falls to the wider DejaVu Sans and the windows
# grow to fit their texts.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "fonts-liberation2 | fonts-liberation")

include(CPack)
