# Three Debian packages from the one tree: kestrel, the browser for every
# pupil machine; kestrel-announce, the announcer and its service for the
# one machine that announces; and kestrel-publish, the teachers' publishing
# page beside it. The browser and the announcer need neither other.
set(KESTREL_PACKAGING ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_PACKAGING_BINARY ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${KESTREL_PACKAGING_BINARY})

# Manual pages and the changelog, compressed as Debian keeps them (no name or
# time stamp in the gzip header, so a rebuild gives the same bytes).
find_program(KESTREL_SCDOC scdoc REQUIRED)
find_program(KESTREL_GZIP gzip REQUIRED)
set(KESTREL_PACKAGE_DOCUMENTS)
foreach(page kestrel.1 kestrel-announce.1 kestrel-publish.1 kestrel-catalogue.5)
  set(source ${KESTREL_PACKAGING}/man/${page}.scd)
  set(page_gz ${KESTREL_PACKAGING_BINARY}/${page}.gz)
  add_custom_command(OUTPUT ${page_gz}
    COMMAND sh -c "'${KESTREL_SCDOC}' < '${source}' | '${KESTREL_GZIP}' -9n > '${page_gz}'"
    DEPENDS ${source} VERBATIM)
  list(APPEND KESTREL_PACKAGE_DOCUMENTS ${page_gz})
endforeach()
set(KESTREL_CHANGELOG_GZ ${KESTREL_PACKAGING_BINARY}/changelog.gz)
add_custom_command(OUTPUT ${KESTREL_CHANGELOG_GZ}
  COMMAND sh -c "'${KESTREL_GZIP}' -9n < '${KESTREL_PACKAGING}/debian/changelog' > '${KESTREL_CHANGELOG_GZ}'"
  DEPENDS ${KESTREL_PACKAGING}/debian/changelog VERBATIM)
add_custom_target(kestrel_package_documents ALL DEPENDS ${KESTREL_PACKAGE_DOCUMENTS} ${KESTREL_CHANGELOG_GZ})

# The browser finds its settings file by its own path with ".INI", so that
# path is a link to the conffile in /etc; /usr/bin holds a link to the program.
if(TARGET kestrel)
  install(TARGETS kestrel RUNTIME DESTINATION lib/kestrel COMPONENT browser)
endif()
file(CREATE_LINK /etc/kestrel/kestrel.INI ${KESTREL_PACKAGING_BINARY}/kestrel.INI SYMBOLIC)
file(CREATE_LINK ../lib/kestrel/kestrel ${KESTREL_PACKAGING_BINARY}/kestrel SYMBOLIC)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel.INI DESTINATION lib/kestrel COMPONENT browser)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel DESTINATION bin COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/kestrel.INI DESTINATION /etc/kestrel COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/kestrel.desktop DESTINATION share/applications COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/kestrel.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/kestrel.metainfo.xml DESTINATION share/metainfo
  RENAME org.kestrel_classroom.kestrel.metainfo.xml COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/kestrel-autostart.desktop
  DESTINATION /etc/xdg/autostart RENAME kestrel.desktop COMPONENT browser)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel.1.gz DESTINATION share/man/man1 COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/debian/kestrel/lintian-overrides
  DESTINATION share/lintian/overrides RENAME kestrel COMPONENT browser)

install(TARGETS kestrel-announce RUNTIME DESTINATION bin COMPONENT announce)
install(FILES ${KESTREL_PACKAGING}/kestrel-announce.service DESTINATION /lib/systemd/system COMPONENT announce)
install(FILES ${KESTREL_PACKAGING}/kestrel-announce.default
  DESTINATION /etc/default RENAME kestrel-announce COMPONENT announce)
install(FILES ${KESTREL_PACKAGING}/catalogue.ini DESTINATION /etc/kestrel COMPONENT announce)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel-announce.1.gz DESTINATION share/man/man1 COMPONENT announce)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel-catalogue.5.gz DESTINATION share/man/man5 COMPONENT announce)

install(TARGETS kestrel-publish RUNTIME DESTINATION bin COMPONENT publish)
install(FILES ${KESTREL_PACKAGING}/kestrel-publish.service DESTINATION /lib/systemd/system COMPONENT publish)
install(FILES ${KESTREL_PACKAGING}/kestrel-publish.default
  DESTINATION /etc/default RENAME kestrel-publish COMPONENT publish)
install(FILES ${KESTREL_PACKAGING_BINARY}/kestrel-publish.1.gz DESTINATION share/man/man1 COMPONENT publish)

install(FILES ${KESTREL_PACKAGING}/debian/copyright ${KESTREL_CHANGELOG_GZ}
  DESTINATION share/doc/kestrel COMPONENT browser)
install(FILES ${KESTREL_PACKAGING}/debian/copyright ${KESTREL_CHANGELOG_GZ}
  DESTINATION share/doc/kestrel-announce COMPONENT announce)
install(FILES ${KESTREL_PACKAGING}/debian/copyright ${KESTREL_CHANGELOG_GZ}
  DESTINATION share/doc/kestrel-publish COMPONENT publish)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL browser announce publish)
set(CPACK_PACKAGE_NAME kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrel maintainers <maintainers@users.noreply.c-seed-87aafe22.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_BROWSER_PACKAGE_NAME kestrel)
set(CPACK_DEBIAN_BROWSER_DESCRIPTION "classroom link browser with announced picture buttons
A single-window web browser for school computers, without an address bar:
the teacher's announcer (package kestrel-announce) tells every browser on
the local network which page to open first and which lessons to offer, and
each lesson becomes a picture button on the toolbar.")
# Not found by the library scan: Chinese glyphs, the web engine's data with
# its zh-CN locale, Qt's own Chinese translations for its dialogs, the
# system's certificate store a school's own authority is trusted from, the
# window system plug-ins, and xdg-open for the links the window hands to the
# desktop. The engine's helper process comes with the
# engine library's own dependencies.
set(CPACK_DEBIAN_BROWSER_PACKAGE_DEPENDS
  "fonts-wqy-microhei | fonts-wqy-zenhei, libqt6webengine6-data, qt6-translations-l10n, ca-certificates, qt6-qpa-plugins, xdg-utils")
set(CPACK_DEBIAN_BROWSER_PACKAGE_CONTROL_EXTRA
  ${KESTREL_PACKAGING}/debian/kestrel/conffiles
  ${KESTREL_PACKAGING}/debian/kestrel/preinst
  ${KESTREL_PACKAGING}/debian/kestrel/postinst
  ${KESTREL_PACKAGING}/debian/kestrel/postrm)

set(CPACK_DEBIAN_ANNOUNCE_PACKAGE_NAME kestrel-announce)
set(CPACK_DEBIAN_ANNOUNCE_DESCRIPTION "link announcer for the Kestrel classroom browsers
Sends the links of a catalogue file to every Kestrel browser on the local
network, again and again, following the file's edits; it can also serve the
lessons' pages and pictures over HTTP. Comes with a systemd service, off
until enabled on the one machine that announces.")
# The announcer, its service and the example catalogue were part of the
# kestrel package up to 2.1.
set(CPACK_DEBIAN_ANNOUNCE_PACKAGE_REPLACES "kestrel (<< 2.2~)")
set(CPACK_DEBIAN_ANNOUNCE_PACKAGE_BREAKS "kestrel (<< 2.2~)")
set(CPACK_DEBIAN_ANNOUNCE_PACKAGE_CONTROL_EXTRA
  ${KESTREL_PACKAGING}/debian/kestrel-announce/conffiles
  ${KESTREL_PACKAGING}/debian/kestrel-announce/postinst
  ${KESTREL_PACKAGING}/debian/kestrel-announce/prerm
  ${KESTREL_PACKAGING}/debian/kestrel-announce/postrm)

set(CPACK_DEBIAN_PUBLISH_PACKAGE_NAME kestrel-publish)
set(CPACK_DEBIAN_PUBLISH_DESCRIPTION "publishing page for the Kestrel link announcer
A small web server with one page, in Chinese, on which teachers sign in,
edit the links of the pupils' toolbar, upload their pictures and publish
them; the announcer sends the published links to the classroom within
seconds. Keeps saved lesson sets and a history of publishes. Comes with a
systemd service, off until enabled, listening on this machine only unless
opened to the network over HTTPS.")
# The announcer announces what the page publishes.
set(CPACK_DEBIAN_PUBLISH_PACKAGE_DEPENDS "kestrel-announce (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_PUBLISH_PACKAGE_CONTROL_EXTRA
  ${KESTREL_PACKAGING}/debian/kestrel-publish/conffiles
  ${KESTREL_PACKAGING}/debian/kestrel-publish/postinst
  ${KESTREL_PACKAGING}/debian/kestrel-publish/prerm
  ${KESTREL_PACKAGING}/debian/kestrel-publish/postrm)
include(CPack)
