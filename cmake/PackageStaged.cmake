# Run by CPack once the zip's files are staged and before the zip is made:
# signs pagewick.exe and both modules when a certificate is given, then builds
# the MSI from the same (signed) files beside the zip and signs it too.
include(${CPACK_PAGEWICK_SOURCE_DIR}/cmake/BuildMsi.cmake)

set(staged ${CPACK_TEMPORARY_DIRECTORY})
foreach(binary pagewick.exe pwimgfil.dll pwimgkrn.dll)
  pagewick_sign(${staged}/${binary} "${CPACK_PAGEWICK_SIGN_PFX}" "${CPACK_PAGEWICK_SIGN_PASSWORD_FILE}"
                "${CPACK_PAGEWICK_SIGN_TIMESTAMP_URL}")
endforeach()

set(msi ${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi)
set(files "")
foreach(name pagewick.exe pwimgfil.dll pwimgkrn.dll rc.info README.txt)
  list(APPEND files ${staged}/${name})
endforeach()
pagewick_build_msi("${files}" ${CPACK_PACKAGE_VERSION} ${msi} ${CPACK_PAGEWICK_SOURCE_DIR} "")
pagewick_sign(${msi} "${CPACK_PAGEWICK_SIGN_PFX}" "${CPACK_PAGEWICK_SIGN_PASSWORD_FILE}"
              "${CPACK_PAGEWICK_SIGN_TIMESTAMP_URL}")
message(STATUS "Package: ${msi} generated.")
