# What `cmake --install` puts beside the program, and the packages.
#
#   bin/                      the program
#   share/wendrake/           WKCommand.txt, an example command file for the
#                             platform with every keyword explained; on Linux
#                             also wendrake.logrotate, a logrotate example
#   share/man/man1/           wendrake.1.gz, the manual page (Linux)
#   lib/systemd/user/         wendrake.service, a systemd user unit (Linux)
#   README.txt                a short readme (Windows)
#
# On Windows `cmake --build <build> --target package` zips the same tree
# into Wendrake-<version>-win64.zip; on Linux `cpack -G DEB` (or the same
# target) makes wendrake_<version>_<arch>.deb, installed under /usr.
set(WENDRAKE_EXAMPLE_DIR share/wendrake)
set(CPACK_PACKAGE_VENDOR Wendrake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Starts a program once for every file added to, deleted from or changed in a watched folder")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/WKCommand-windows.txt
    DESTINATION ${WENDRAKE_EXAMPLE_DIR} RENAME WKCommand.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/README-windows.txt
    DESTINATION . RENAME README.txt)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Wendrake)
  set(CPACK_PACKAGE_FILE_NAME Wendrake-${PROJECT_VERSION}-win64)
  include(CPack)
else()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/WKCommand-linux.txt
    DESTINATION ${WENDRAKE_EXAMPLE_DIR} RENAME WKCommand.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/wendrake.logrotate
    DESTINATION ${WENDRAKE_EXAMPLE_DIR})

  # The unit names the installed program by its full path, so it is written
  # when the prefix is final: at install time, which also honours --prefix.
  # A DESTDIR staging folder is not part of that path (the package is
  # staged that way too). The manual page is compressed, as man expects.
  set(generated ${CMAKE_BINARY_DIR}/packaging)
  install(CODE "
    get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
    set(WENDRAKE_PROGRAM \"\${prefix}/bin/$<TARGET_FILE_NAME:wendrake_program>\")
    set(WENDRAKE_EXAMPLE_DIR \"\${prefix}/${WENDRAKE_EXAMPLE_DIR}\")
    set(WENDRAKE_VERSION ${PROJECT_VERSION})
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/wendrake.service.in\"
      \"${generated}/wendrake.service\" @ONLY)
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/wendrake.1\" \"${generated}/wendrake.1\" @ONLY)
    file(ARCHIVE_CREATE OUTPUT \"${generated}/wendrake.1.gz\" PATHS \"${generated}/wendrake.1\"
      FORMAT raw COMPRESSION GZip)
  ")
  install(FILES ${generated}/wendrake.service DESTINATION lib/systemd/user)
  install(FILES ${generated}/wendrake.1.gz DESTINATION share/man/man1)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME wendrake)
  set(CPACK_PACKAGE_CONTACT "Wendrake maintainers <maintainers@users.noreply.c-seed-fbfe3c72.example>"
  CACHE STRING "The Maintainer of the Debian package")
  # Staged under DESTDIR with the prefix /usr itself, so that the unit and
  # the manual page name /usr, not the staging folder.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The libraries the program links, as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS logrotate)
  include(CPack)
endif()
