# pagewick::xxhash: xxHash (XXH3) for the digests of the pictures a pull saves.
#   host build:  Debian's libxxhash-dev (its header and library).
#   win32 build: xxHash's single header, used inline (XXH_INLINE_ALL), taken
#                from Debian's libxxhash-dev on the build machine: the package
#                is pinned to one version and the header's SHA-256 must match
#                the value below, or the configuration stops saying which
#                differs. The copy lives in the build tree; nothing is committed.
include_guard(GLOBAL)

if(NOT PAGEWICK_BACKEND STREQUAL "win32")
  find_path(PAGEWICK_XXHASH_INCLUDE_DIR xxhash.h REQUIRED)
  find_library(PAGEWICK_XXHASH_LIBRARY xxhash REQUIRED)
  add_library(pagewick::xxhash INTERFACE IMPORTED GLOBAL)
  set_target_properties(pagewick::xxhash PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${PAGEWICK_XXHASH_INCLUDE_DIR}
    INTERFACE_LINK_LIBRARIES ${PAGEWICK_XXHASH_LIBRARY})
  return()
endif()

set(PAGEWICK_XXHASH_PACKAGE libxxhash-dev)
set(PAGEWICK_XXHASH_VERSION 0.8.1-1)
set(PAGEWICK_XXHASH_HEADER /usr/include/xxhash.h)
set(PAGEWICK_XXHASH_SHA256 d4f2b91b547c79061649186721a6b331609f2bf8595485a21ea631c82ec3ef93)
set(PAGEWICK_XXHASH_INCLUDE_DIR ${CMAKE_BINARY_DIR}/_deps/xxhash/include)

execute_process(COMMAND dpkg-query -W -f=\${Version} ${PAGEWICK_XXHASH_PACKAGE}
                OUTPUT_VARIABLE installed RESULT_VARIABLE status ERROR_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "xxHash: ${PAGEWICK_XXHASH_PACKAGE} is not installed (scripts/setup.sh installs it)")
endif()
if(NOT installed STREQUAL PAGEWICK_XXHASH_VERSION)
  message(FATAL_ERROR "xxHash: ${PAGEWICK_XXHASH_PACKAGE} ${installed} is installed, "
                      "the build is pinned to ${PAGEWICK_XXHASH_VERSION}")
endif()
file(SHA256 ${PAGEWICK_XXHASH_HEADER} actual)
if(NOT actual STREQUAL PAGEWICK_XXHASH_SHA256)
  message(FATAL_ERROR "xxHash: SHA-256 mismatch for ${PAGEWICK_XXHASH_HEADER}: "
                      "expected ${PAGEWICK_XXHASH_SHA256}, got ${actual}")
endif()
file(COPY ${PAGEWICK_XXHASH_HEADER} DESTINATION ${PAGEWICK_XXHASH_INCLUDE_DIR})

add_library(pagewick::xxhash INTERFACE IMPORTED GLOBAL)
set_target_properties(pagewick::xxhash PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES ${PAGEWICK_XXHASH_INCLUDE_DIR}
  INTERFACE_COMPILE_DEFINITIONS XXH_INLINE_ALL)
