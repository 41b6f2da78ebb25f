# What `cmake --install` puts where, and the Debian package made of it.
# Everything goes below the install prefix; the files that name a path of the
# installed tree (the systemd units) are made at install time, so a package
# built for /usr and a trial install into /usr/local both point at their own
# programs.

include(GNUInstallDirs)

# Where the screenshots of docs/screenshots are published; the AppStream
# metainfo links them and takes its component ids from this address
# (https://brindle.example.org gives org.example.brindle.host).
set(BRINDLE_WEB_HOME "https://brindle.example.org" CACHE STRING
    "Web home of the project, where docs/screenshots are published")
string(REGEX REPLACE "^[a-z]+://([^/:]+).*$" "\\1" web_host "${BRINDLE_WEB_HOME}")
string(REPLACE "." ";" web_labels "${web_host}")
list(REVERSE web_labels)
list(JOIN web_labels "." BRINDLE_APPSTREAM_PREFIX)

set(dist ${PROJECT_SOURCE_DIR}/dist)
set(made ${PROJECT_BINARY_DIR}/dist)

install(TARGETS BrindleHost BrindleView RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(program host view)
  install(FILES ${dist}/desktop/brindle-${program}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${dist}/icons/brindle-${program}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 48 256)
    install(FILES ${dist}/icons/brindle-${program}-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME brindle-${program}.png)
  endforeach()
  # Named after the component id, as AppStream tools expect.
  configure_file(${dist}/metainfo/brindle-${program}.metainfo.xml.in
                 ${made}/${BRINDLE_APPSTREAM_PREFIX}.${program}.metainfo.xml @ONLY)
  install(FILES ${made}/${BRINDLE_APPSTREAM_PREFIX}.${program}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
endforeach()

# Manual pages, compressed as Debian keeps them.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(man_pages)
foreach(page BrindleHost BrindleView)
  configure_file(${dist}/man/${page}.1.in ${made}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${made}/${page}.1.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${made}/${page}.1 > ${made}/${page}.1.gz
    DEPENDS ${made}/${page}.1
    VERBATIM)
  list(APPEND man_pages ${made}/${page}.1.gz)
endforeach()
add_custom_target(brindle_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The systemd units: a user unit and a system template. ExecStart names the
# installed program, so they are made when the prefix is known, straight into
# the (staged) tree.
install(CODE "
  set(BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  set(units \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/lib/systemd\")
  message(STATUS \"Installing: \${units}/user/brindle-host.service\")
  configure_file(\"${dist}/systemd/brindle-host.service.in\"
                 \"\${units}/user/brindle-host.service\" @ONLY)
  message(STATUS \"Installing: \${units}/system/brindle-host@.service\")
  configure_file(\"${dist}/systemd/brindle-host@.service.in\"
                 \"\${units}/system/brindle-host@.service\" @ONLY)
")

# The package's own documents (Debian wants both in every package).
set(CPACK_PACKAGE_CONTACT "The Brindle developers <brindle@example.org>" CACHE STRING
    "Maintainer of the Debian package")
configure_file(${dist}/debian/changelog.in ${made}/changelog @ONLY)
add_custom_command(OUTPUT ${made}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9 -n -c ${made}/changelog > ${made}/changelog.gz
  DEPENDS ${made}/changelog
  VERBATIM)
add_custom_target(brindle_changelog ALL DEPENDS ${made}/changelog.gz)
install(FILES ${made}/changelog.gz ${dist}/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brindle)

# --- Debian package (make package) -------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindle)
set(CPACK_PACKAGE_VERSION ${BRINDLE_VERSION_TEXT})
set(CPACK_PACKAGE_VENDOR "The Brindle developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "camera server and viewer for USB cameras")
set(CPACK_PACKAGE_DESCRIPTION
    "BrindleHost captures still images from the USB cameras of one computer on a\n"
    "cycle, stamps them with date and time, keeps them in dated folders and sends\n"
    "them to a viewer. BrindleView keeps links to several such servers, stores\n"
    "what they send and plays the images back in time. The two talk over an\n"
    "enciphered TCP protocol of their own, or through a WebDAV folder.\n"
    "\n"
    "The server also runs without a window, as a systemd service.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# Install with DESTDIR, so that CMAKE_INSTALL_PREFIX is /usr while the units
# are made (see above), not the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the Qt platform
# plugins (the offscreen one serves the headless server).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-ipafont-gothic | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${BRINDLE_WEB_HOME})
include(CPack)
