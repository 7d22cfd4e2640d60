# What `cmake --install` puts beside the program, and the Windows package.
#
#   bin/                      the program
#   share/wendrake/           WKCommand.txt, an example command file for the
#                             platform with every keyword explained
#   lib/systemd/user/         wendrake.service, a systemd user unit (Linux)
#   README.txt                a short readme (Windows)
#
# On Windows `cmake --build <build> --target package` zips the same tree
# into Wendrake-<version>-win64.zip.
set(WENDRAKE_EXAMPLE_DIR share/wendrake)

if(WIN32)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/WKCommand-windows.txt
    DESTINATION ${WENDRAKE_EXAMPLE_DIR} RENAME WKCommand.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/README-windows.txt
    DESTINATION . RENAME README.txt)

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Wendrake)
  set(CPACK_PACKAGE_VENDOR Wendrake)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Starts a program once for every file added to, deleted from or changed in a watched folder")
  set(CPACK_PACKAGE_FILE_NAME Wendrake-${PROJECT_VERSION}-win64)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
else()
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/WKCommand-linux.txt
    DESTINATION ${WENDRAKE_EXAMPLE_DIR} RENAME WKCommand.txt)

  # The unit names the installed program by its full path, so it is written
  # when the prefix is final: at install time, which also honours --prefix.
  # A DESTDIR staging folder is not part of that path.
  install(CODE "
    get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
    set(WENDRAKE_PROGRAM \"\${prefix}/bin/$<TARGET_FILE_NAME:wendrake_program>\")
    set(WENDRAKE_EXAMPLE_DIR \"\${prefix}/${WENDRAKE_EXAMPLE_DIR}\")
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/wendrake.service.in\"
      \"${CMAKE_BINARY_DIR}/packaging/wendrake.service\" @ONLY)
  ")
  install(FILES ${CMAKE_BINARY_DIR}/packaging/wendrake.service DESTINATION lib/systemd/user)
endif()
