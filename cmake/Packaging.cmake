# The Windows package and the executable's own resources (win32 build only).
#
#   cmake --build --preset win32 --target package
#
# writes pagewick-<version>-win32.zip into the build folder: pagewick.exe, the
# two imaging modules it loads at start, the text table rc.info and README.txt.
include_guard(GLOBAL)

if(NOT PAGEWICK_BACKEND STREQUAL "win32")
  return()
endif()

# Version record, application icon and manifest, compiled by windres into the
# executable. The version comes from the project version (major.minor.patch.tweak).
enable_language(RC)
function(pagewick_add_windows_resources target)
  set(parts "")
  foreach(part "${PROJECT_VERSION_MAJOR}" "${PROJECT_VERSION_MINOR}" "${PROJECT_VERSION_PATCH}" "${PROJECT_VERSION_TWEAK}")
    if(part STREQUAL "")
      set(part 0)
    endif()
    list(APPEND parts ${part})
  endforeach()
  list(JOIN parts "," PAGEWICK_VERSION_COMMAS)
  list(JOIN parts "." PAGEWICK_FILE_VERSION)
  set(PAGEWICK_RESOURCES_DIR ${PROJECT_SOURCE_DIR}/resources)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(PAGEWICK_MANIFEST ${generated}/pagewick.exe.manifest)
  configure_file(${PAGEWICK_RESOURCES_DIR}/pagewick.exe.manifest ${PAGEWICK_MANIFEST} @ONLY)
  configure_file(${PAGEWICK_RESOURCES_DIR}/Pagewick.rc.in ${generated}/Pagewick.rc @ONLY)
  target_sources(${target} PRIVATE ${generated}/Pagewick.rc)
  set_source_files_properties(${generated}/Pagewick.rc PROPERTIES
    OBJECT_DEPENDS "${PAGEWICK_MANIFEST};${PAGEWICK_RESOURCES_DIR}/TrayIcon.ico")
endfunction()

pagewick_add_windows_resources(pagewick)

# What the zip holds, at its top: the program, its modules and its texts.
install(TARGETS pagewick pwimgfil pwimgkrn
        RUNTIME DESTINATION .
        # The modules' import libraries are for linking only.
        ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/resources/rc.info DESTINATION .)
# Notes for Windows users, with Windows line ends.
configure_file(${PROJECT_SOURCE_DIR}/packaging/README.txt ${CMAKE_BINARY_DIR}/packaging/README.txt
               @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME pagewick)
set(CPACK_PACKAGE_VENDOR "Pagewick")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME pagewick-${PROJECT_VERSION}-win32)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
# The files sit at the top of the zip, so it unpacks into the folder the user picks.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
include(CPack)
