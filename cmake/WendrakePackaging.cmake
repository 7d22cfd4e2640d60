# What `cmake --install` puts beside the program, and the packages.
#
# On Linux, under the prefix:
#   bin/                      the program
#   share/wendrake/           WKCommand.txt, an example command file with
#                             every keyword explained; wendrake.logrotate, a
#                             logrotate example
#   share/man/man1/           wendrake.1.gz, the manual page
#   share/doc/wendrake/       copyright (the licence) and changelog.Debian.gz
#   share/lintian/overrides/  wendrake, what lintian may leave unsaid and why
#   lib/systemd/user/         wendrake.service, a systemd user unit
#   lib/systemd/system/       wendrake@.service, a system unit template, one
#                             instance per start directory
#
# On Windows, side by side in the prefix, as a user unpacks them into one
# folder: Wendrake.exe; WKCommand.txt, the example command file for
# Windows; README.txt, a short readme; LICENSE.txt, the licence. The text
# files get CR LF line ends there (the sources keep LF): the Notepad of
# Windows 7 and 8, and of Windows 10 before its October 2018 update, shows
# an LF-only file as one long line.
#
# On Windows `cmake --build <build> --target package` zips that folder's
# contents, with no folder around them, into Wendrake-<version>-win64.zip;
# on Linux `cpack -G DEB` (or the same target) makes
# wendrake_<version>-<revision>_<arch>.deb, installed under /usr. The
# `package` preset builds the program alone for that:
#   cmake --workflow --preset package
set(CPACK_PACKAGE_VENDOR Wendrake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "folder watcher that starts a program for each added, changed or deleted file")
set(CPACK_PACKAGE_DESCRIPTION
  "Wendrake watches up to two folders, as the command file WKCommand.txt in
its start directory says, and starts a configured program once for every
file added to, deleted from or changed in them, with the file's full path
and what happened to it as arguments. A file is handed on only once it is
complete: one still being written or held open by another program is
looked at again later.

It keeps an activity log, Wendrake.log, and snapshot files of each folder
in its start directory. A systemd user unit and a system unit template,
one instance per start directory, are included, as are a logrotate example
and an example command file with every keyword explained.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # configure_file for its NEWLINE_STYLE, which also makes a change to a
  # source configure again; the texts hold no @NAME@ for it to replace.
  foreach(text packaging/WKCommand-windows.txt:WKCommand.txt packaging/README-windows.txt:README.txt
          LICENSE:LICENSE.txt)
    string(REPLACE ":" ";" text ${text})
    list(GET text 0 source)
    list(GET text 1 name)
    configure_file(${CMAKE_SOURCE_DIR}/${source} ${CMAKE_BINARY_DIR}/packaging/${name} @ONLY
      NEWLINE_STYLE CRLF)
    install(FILES ${CMAKE_BINARY_DIR}/packaging/${name} DESTINATION .)
  endforeach()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME Wendrake)
  set(CPACK_PACKAGE_FILE_NAME Wendrake-${PROJECT_VERSION}-win64)
  # Unpacked with Explorer's "Extract All", the zip's name already makes
  # the folder: one more inside it would hide the program a level down.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  include(CPack)
else()
  set(WENDRAKE_EXAMPLE_DIR share/wendrake)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/WKCommand-linux.txt
    DESTINATION ${WENDRAKE_EXAMPLE_DIR} RENAME WKCommand.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/wendrake.logrotate
    DESTINATION ${WENDRAKE_EXAMPLE_DIR})

  # The units name the installed program by its full path, so they are
  # written when the prefix is final: at install time, which also honours
  # --prefix. A DESTDIR staging folder is not part of that path (the
  # package is staged that way too). The manual page and the changelog are
  # compressed as Debian wants them: gzip -9n, best and without the name
  # and time stamp that would make each build differ.
  set(generated ${CMAKE_BINARY_DIR}/packaging)
  install(CODE "
    get_filename_component(prefix \"\${CMAKE_INSTALL_PREFIX}\" ABSOLUTE)
    set(WENDRAKE_PROGRAM \"\${prefix}/bin/$<TARGET_FILE_NAME:wendrake_program>\")
    set(WENDRAKE_EXAMPLE_DIR \"\${prefix}/${WENDRAKE_EXAMPLE_DIR}\")
    set(WENDRAKE_VERSION ${PROJECT_VERSION})
    foreach(unit wendrake.service wendrake@.service)
      configure_file(\"${CMAKE_SOURCE_DIR}/packaging/\${unit}.in\" \"${generated}/\${unit}\" @ONLY)
    endforeach()
    configure_file(\"${CMAKE_SOURCE_DIR}/packaging/wendrake.1\" \"${generated}/wendrake.1\" @ONLY)
    foreach(file wendrake.1 ${CMAKE_SOURCE_DIR}/packaging/changelog)
      get_filename_component(name \"\${file}\" NAME)
      execute_process(COMMAND gzip -9nc \"\${file}\" WORKING_DIRECTORY \"${generated}\"
        OUTPUT_FILE \"${generated}/\${name}.gz\" RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR \"gzip -9n \${file}: \${failed}\")
      endif()
    endforeach()
  ")
  install(FILES ${generated}/wendrake.service DESTINATION lib/systemd/user)
  install(FILES ${generated}/wendrake@.service DESTINATION lib/systemd/system)
  install(FILES ${generated}/wendrake.1.gz DESTINATION share/man/man1)

  # The package's copyright file, in Debian's machine-readable format, is
  # made from LICENSE: its copyright line, and its terms (the MIT licence,
  # which Debian calls Expat) as the licence's text, a continuation field
  # whose empty lines are written " .".
  file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
  string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" holder "${license}")
  set(holder "${CMAKE_MATCH_1}")
  string(FIND "${license}" "Permission is hereby granted" terms)
  string(SUBSTRING "${license}" ${terms} -1 license)
  string(STRIP "${license}" license)
  string(REPLACE "\n" "\n " license "${license}")
  string(REPLACE "\n \n" "\n .\n" license "${license}")
  file(WRITE ${generated}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: Wendrake\n"
    "\n"
    "Files: *\n"
    "Copyright: ${holder}\n"
    "License: Expat\n"
    " ${license}\n")
  install(FILES ${generated}/copyright DESTINATION share/doc/wendrake)
  install(FILES ${generated}/changelog.gz DESTINATION share/doc/wendrake
    RENAME changelog.Debian.gz)
  # What lintian says of the package that is meant so, each with its reason.
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/wendrake.lintian-overrides
    DESTINATION share/lintian/overrides RENAME wendrake)

  # The package's revision is the changelog's, whose newest entry must be
  # this version: lintian holds the package to its changelog.
  file(STRINGS ${CMAKE_SOURCE_DIR}/packaging/changelog newest LIMIT_COUNT 1)
  if(NOT newest MATCHES "^wendrake \\(${PROJECT_VERSION}-([0-9]+)\\) ")
    message(FATAL_ERROR "packaging/changelog: its newest entry is not ${PROJECT_VERSION}-N")
  endif()
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${CMAKE_MATCH_1})

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME wendrake)
  set(CPACK_PACKAGE_CONTACT "Wendrake developers <wendrake@users.noreply.github.com>")
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
