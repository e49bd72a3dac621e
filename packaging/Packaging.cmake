# The Debian package, one for every machine: the browser with its settings
# file under /opt/kestrel, the announcer with its service (off until a
# teacher enables it on the one machine that announces), desktop entries.
set(KESTREL_PACKAGING ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_PACKAGING_BINARY ${CMAKE_BINARY_DIR}/packaging)

# The browser reads the settings file beside its resolved program file, so
# /usr/bin holds only a link to it.
if(TARGET kestrel)
  install(TARGETS kestrel RUNTIME DESTINATION /opt/kestrel)
endif()
install(FILES ${KESTREL_PACKAGING}/kestrel.INI DESTINATION /opt/kestrel)
file(MAKE_DIRECTORY ${KESTREL_PACKAGING_BINARY})
file(CREATE_LINK /opt/kestrel/kestrel ${KESTREL_PACKAGING_BINARY}/kestrel SYMBOLIC)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel DESTINATION bin)
install(FILES ${KESTREL_PACKAGING}/kestrel.desktop DESTINATION share/applications)
install(FILES ${KESTREL_PACKAGING}/kestrel.svg DESTINATION share/icons/hicolor/scalable/apps)
install(FILES ${KESTREL_PACKAGING}/kestrel-autostart.desktop
  DESTINATION /etc/xdg/autostart RENAME kestrel.desktop)

install(TARGETS kestrel-announce RUNTIME DESTINATION bin)
install(FILES ${KESTREL_PACKAGING}/kestrel-announce.service DESTINATION /lib/systemd/system)
install(FILES ${KESTREL_PACKAGING}/kestrel-announce.default
  DESTINATION /etc/default RENAME kestrel-announce)
install(FILES ${KESTREL_PACKAGING}/catalogue.ini DESTINATION /etc/kestrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Kestrel developers <kestrel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "classroom link browser and its link announcer")
set(CPACK_PACKAGE_DESCRIPTION "A single-window browser for school computers: the links it shows arrive as
announcements on the local network. Includes kestrel-announce, which sends
those announcements and can serve the pages and pictures.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Not found by the library scan: Chinese glyphs, the web engine's helper
# process and the window system plug-ins.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei | fonts-wqy-zenhei, libqt6webenginecore6-bin, qt6-qpa-plugins")
# Settings, catalogue and service options are the school's own: an upgrade
# keeps their edits.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${KESTREL_PACKAGING}/conffiles)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
