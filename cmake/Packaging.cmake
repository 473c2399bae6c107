# The Windows package and the executable's own resources (win32 build only).
#
#   cmake --build --preset win32 --target package
#
# writes pagewick-<version>-win32.zip into the build folder: pagewick.exe, the
# two imaging modules it loads at start, the text table rc.info and README.txt;
# and beside it pagewick-<version>-win32.msi with the same files
# (packaging/pagewick.wxs, built by wixl). Given a certificate, the
# executable, both modules and the MSI are signed with osslsigncode:
#
#   -D PAGEWICK_SIGN_PFX=<file.pfx> -D PAGEWICK_SIGN_PASSWORD_FILE=<file>
#   [-D PAGEWICK_SIGN_TIMESTAMP_URL=http://timestamp.example]
include_guard(GLOBAL)

if(NOT PAGEWICK_BACKEND STREQUAL "win32")
  return()
endif()

# Version record, application icon, manifest and message table, compiled by
# windres into the executable. The version comes from the project version
# (major.minor.patch.tweak); windmc makes the message table from Messages.mc.
enable_language(RC)
find_program(PAGEWICK_WINDMC NAMES ${PAGEWICK_MINGW_PREFIX}-windmc i686-w64-mingw32-windmc REQUIRED)
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
  set(PAGEWICK_MESSAGE_TABLE ${generated}/MSG00409.bin)
  add_custom_command(OUTPUT ${PAGEWICK_MESSAGE_TABLE}
    COMMAND ${PAGEWICK_WINDMC} -r ${generated} -h ${generated} ${PAGEWICK_RESOURCES_DIR}/Messages.mc
    DEPENDS ${PAGEWICK_RESOURCES_DIR}/Messages.mc
    COMMENT "Compiling the message table")
  # The target lives in another folder, which cannot see this folder's outputs.
  add_custom_target(${target}_message_table DEPENDS ${PAGEWICK_MESSAGE_TABLE})
  add_dependencies(${target} ${target}_message_table)
  configure_file(${PAGEWICK_RESOURCES_DIR}/Pagewick.rc.in ${generated}/Pagewick.rc @ONLY)
  target_sources(${target} PRIVATE ${generated}/Pagewick.rc)
  # Source properties belong to a folder: set them where the target is, or the
  # resources are not compiled again when the message table changes.
  set_source_files_properties(${generated}/Pagewick.rc TARGET_DIRECTORY ${target} PROPERTIES
    OBJECT_DEPENDS "${PAGEWICK_MANIFEST};${PAGEWICK_RESOURCES_DIR}/TrayIcon.ico;${PAGEWICK_MESSAGE_TABLE}")
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

set(PAGEWICK_SIGN_PFX "" CACHE FILEPATH "PKCS#12 file whose certificate signs the packaged binaries and the MSI")
set(PAGEWICK_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File that holds the PFX's password")
set(PAGEWICK_SIGN_TIMESTAMP_URL "" CACHE STRING "Time-stamping server for the signatures (none when empty)")
if(PAGEWICK_SIGN_PFX AND NOT EXISTS "${PAGEWICK_SIGN_PFX}")
  message(FATAL_ERROR "PAGEWICK_SIGN_PFX names no file: ${PAGEWICK_SIGN_PFX}")
endif()
find_program(PAGEWICK_WIXL wixl)
find_program(PAGEWICK_MSIBUILD msibuild)
if(NOT PAGEWICK_WIXL OR NOT PAGEWICK_MSIBUILD)
  message(WARNING "wixl or msibuild is missing (scripts/setup.sh installs wixl and msitools): the package step fails")
endif()
# The staged files are signed and the MSI built between staging and zipping.
set(CPACK_PAGEWICK_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PAGEWICK_SIGN_PFX "${PAGEWICK_SIGN_PFX}")
set(CPACK_PAGEWICK_SIGN_PASSWORD_FILE "${PAGEWICK_SIGN_PASSWORD_FILE}")
set(CPACK_PAGEWICK_SIGN_TIMESTAMP_URL "${PAGEWICK_SIGN_TIMESTAMP_URL}")
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PackageStaged.cmake)
include(CPack)
