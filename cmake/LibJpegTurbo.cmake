# pagewick::jpeg: the JPEG library (libjpeg API, libjpeg-turbo) for every target
# that reads or writes JPEG data.
#   host build:  Debian's libjpeg (find_package(JPEG)).
#   win32 build: Debian's libjpeg-turbo source package, fetched by
#                fetch-libjpeg-turbo.sh at build time and cross-compiled with
#                the mingw toolchain into a static library; never committed.
include_guard(GLOBAL)

if(NOT PAGEWICK_BACKEND STREQUAL "win32")
  find_package(JPEG REQUIRED GLOBAL)
  add_library(pagewick::jpeg INTERFACE IMPORTED GLOBAL)
  set_target_properties(pagewick::jpeg PROPERTIES INTERFACE_LINK_LIBRARIES JPEG::JPEG)
  return()
endif()

include(ExternalProject)

set(PAGEWICK_JPEG_ROOT ${CMAKE_BINARY_DIR}/_deps/libjpeg-turbo)
set(PAGEWICK_JPEG_PREFIX ${PAGEWICK_JPEG_ROOT}/install)
set(PAGEWICK_JPEG_LIBRARY ${PAGEWICK_JPEG_PREFIX}/lib/libjpeg.a)
set(PAGEWICK_JPEG_INCLUDE_DIR ${PAGEWICK_JPEG_PREFIX}/include)

# The library on its own: no SIMD (would need nasm), no TurboJPEG API, no
# programs; the libjpeg v6b API as Debian ships it, arithmetic coding included.
ExternalProject_Add(libjpeg_turbo_win32
  PREFIX ${PAGEWICK_JPEG_ROOT}
  SOURCE_DIR ${PAGEWICK_JPEG_ROOT}/src
  BINARY_DIR ${PAGEWICK_JPEG_ROOT}/build
  INSTALL_DIR ${PAGEWICK_JPEG_PREFIX}
  DOWNLOAD_COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/fetch-libjpeg-turbo.sh
                   <SOURCE_DIR> ${PAGEWICK_JPEG_ROOT}/download
  UPDATE_COMMAND ""
  CMAKE_ARGS
    -G ${CMAKE_GENERATOR}
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DENABLE_SHARED=OFF
    -DENABLE_STATIC=ON
    -DWITH_SIMD=OFF
    -DWITH_TURBOJPEG=OFF
    -DWITH_JAVA=OFF
    -DWITH_ARITH_ENC=ON
    -DWITH_ARITH_DEC=ON
    -DWITH_MEM_SRCDST=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target jpeg-static
  INSTALL_COMMAND
    ${CMAKE_COMMAND} -E make_directory <INSTALL_DIR>/lib <INSTALL_DIR>/include
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/libjpeg.a <INSTALL_DIR>/lib/
    COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/jconfig.h <SOURCE_DIR>/jpeglib.h
            <SOURCE_DIR>/jmorecfg.h <SOURCE_DIR>/jerror.h <INSTALL_DIR>/include/
  BUILD_BYPRODUCTS ${PAGEWICK_JPEG_LIBRARY}
  LOG_DOWNLOAD ON
  LOG_CONFIGURE ON
  LOG_BUILD ON
  LOG_OUTPUT_ON_FAILURE ON)

# The include folder must exist when the build system is generated.
file(MAKE_DIRECTORY ${PAGEWICK_JPEG_INCLUDE_DIR})

add_library(pagewick::jpeg STATIC IMPORTED GLOBAL)
set_target_properties(pagewick::jpeg PROPERTIES
  IMPORTED_LOCATION ${PAGEWICK_JPEG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${PAGEWICK_JPEG_INCLUDE_DIR})
add_dependencies(pagewick::jpeg libjpeg_turbo_win32)
