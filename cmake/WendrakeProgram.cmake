# The program itself: wendrake on Linux, Wendrake.exe on Windows.
if(WIN32)
  add_executable(wendrake_program WIN32 ${CMAKE_SOURCE_DIR}/src/app/main-win32.cc
    ${CMAKE_SOURCE_DIR}/src/app/resources/wendrake.rc)
  set_target_properties(wendrake_program PROPERTIES OUTPUT_NAME Wendrake)
  # The version resource's values, as a header the resource script
  # includes: defines handed to windres lose their quotes. The copyright
  # line and its holder are the licence's own.
  file(STRINGS ${CMAKE_SOURCE_DIR}/LICENSE copyright REGEX "^Copyright \\(c\\) " LIMIT_COUNT 1)
  string(REGEX REPLACE "^Copyright \\(c\\) [-0-9, ]+" "" holder "${copyright}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
  set(numbers ${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0)
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/wendrake_version.h CONTENT
    "#define WENDRAKE_VERSION \"${PROJECT_VERSION}\"
#define WENDRAKE_VERSION_NUMBERS ${numbers}
#define WENDRAKE_COPYRIGHT \"${copyright}\"
#define WENDRAKE_HOLDER \"${holder}\"
")
  target_include_directories(wendrake_program PRIVATE ${CMAKE_BINARY_DIR}/generated)
  if(MSVC)
    # The manifest is the resource script's; the linker would add a second.
    target_link_options(wendrake_program PRIVATE /MANIFEST:NO)
  endif()
  # The resource compiler reads these as well; the build tool follows only
  # #include.
  set(resources ${CMAKE_SOURCE_DIR}/src/app/resources)
  set_source_files_properties(${resources}/wendrake.rc PROPERTIES
    OBJECT_DEPENDS "${resources}/wendrake.ico;${resources}/wendrake.manifest")
else()
  add_executable(wendrake_program ${CMAKE_SOURCE_DIR}/src/app/main-posix.cc)
  set_target_properties(wendrake_program PROPERTIES OUTPUT_NAME wendrake)
  # --version tells the version of the build.
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/app/options-posix.cc PROPERTIES
    COMPILE_DEFINITIONS "WENDRAKE_VERSION=\"${PROJECT_VERSION}\"")
endif()
target_link_libraries(wendrake_program PRIVATE wendrake_core wendrake_warnings)
if(WIN32)
  target_link_libraries(wendrake_program PRIVATE shell32 user32 gdi32)
  # A Windows program's folder holds it and its files together
  # (WendrakePackaging.cmake).
  install(TARGETS wendrake_program RUNTIME DESTINATION .)
else()
  install(TARGETS wendrake_program RUNTIME DESTINATION bin)
endif()
