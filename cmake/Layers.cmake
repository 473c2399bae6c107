# One library per folder of the program, linked along the allowed arrows:
#   jpeg (libjpeg as the project drives it) <- imaging, resources, the simulator
#   platform (with its window toolkit), imaging (which sees only jpeg)
#     <- agent (the channel to the session agents), storage, scanner
#     <- ui <- service <- tools
# A folder's headers are seen only by the targets that link its library: its
# include root (below the build tree) holds one link, named after the folder,
# to the folder's sources. So "ui/MainForm.h" named in scanner/ is not found,
# and an upward include fails to compile.

# Gives the target the include root of the folder, with the given scope.
function(pagewick_layer_headers target scope folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# A static library of the folder's sources (the folder's *.cpp, except those
# named in EXCLUDE) whose headers its users see.
function(pagewick_layer target folder)
  cmake_parse_arguments(ARG "" "" "EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  foreach(excluded IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${PROJECT_SOURCE_DIR}/${folder}/${excluded})
  endforeach()
  add_library(${target} STATIC ${sources})
  pagewick_layer_headers(${target} PUBLIC ${folder})
  target_link_libraries(${target} PRIVATE pagewick_warnings)
endfunction()
