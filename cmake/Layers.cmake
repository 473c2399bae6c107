# One library per folder of the program, linked along the allowed arrows of
# the table below. A folder's headers are seen only by the targets that link
# its library: its include root (below the build tree) mirrors the folder, so
# "ui/MainForm.h" named in scanner/ is not found, and an upward include fails
# to compile.
#
# The table: a folder, the library that holds it (the first one named is the
# one the layering probes compile with; the others are further libraries of
# the same folder), the folders whose headers it may see, and one header of
# the folder that the probes name. Every folder the table does not allow is
# forbidden, and tests/ holds one probe per forbidden pair. tools/ and tests/
# stand on top of everything and are not in the table.
#
#   platform/hostworld  the simulated Windows of the host build: seen only by
#                       the host backend's adapters (privately), the tools and
#                       the tests
#   platform/toolkit    the window controls, at the level of the window
#   platform/host, platform/win32  the backend adapters: private to the
#                       platform's and the toolkit's libraries
set(PAGEWICK_LAYER_TABLE
  "jpeg|pagewick_jpeg_support||jpeg/JpegTrap.h"
  "imaging|pwimgfil pwimgkrn pagewick_imaging|jpeg|imaging/pwimaging.h"
  "platform|pagewick_platform|platform/hostworld|platform/ByteOrder.h"
  "platform/hostworld|pagewick_host_world|platform|platform/hostworld/World.h"
  "platform/toolkit|pagewick_toolkit|platform platform/hostworld|platform/toolkit/Controls.h"
  "resources|pagewick_resources|platform platform/toolkit jpeg|resources/Pictures.h"
  "agent|pagewick_agent|platform|agent/AgentProtocol.h"
  "storage|pagewick_storage|platform imaging|storage/DestinationNaming.h"
  "scanner|pagewick_scanner|platform|scanner/ScannerState.h"
  "ui|pagewick_ui|agent scanner storage platform platform/toolkit resources|ui/MainForm.h"
  "sessionagent|pagewick_session_agent|ui agent scanner storage platform platform/toolkit|sessionagent/SessionAgent.h"
  "service|pagewick_service|sessionagent ui agent scanner storage platform platform/toolkit resources|service/Service.h")

# Reads one row of the table into <prefix>_folder, _targets, _sees, _header.
function(pagewick_layer_row row prefix)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 folder)
  list(GET fields 1 targets)
  list(GET fields 2 sees)
  list(GET fields 3 header)
  separate_arguments(targets UNIX_COMMAND "${targets}")
  separate_arguments(sees UNIX_COMMAND "${sees}")
  set(${prefix}_folder ${folder} PARENT_SCOPE)
  set(${prefix}_targets ${targets} PARENT_SCOPE)
  set(${prefix}_sees ${sees} PARENT_SCOPE)
  set(${prefix}_header ${header} PARENT_SCOPE)
endfunction()

# The folders whose headers are reached through an include root of their own:
# the table's folders and the backend adapters.
set(PAGEWICK_LAYER_FOLDERS platform/host platform/win32)
foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
  pagewick_layer_row("${row}" layer)
  list(APPEND PAGEWICK_LAYER_FOLDERS ${layer_folder})
endforeach()

# Gives the target the include root of the folder, with the given scope. The
# root holds one link, named after the folder, to the folder's sources; a
# folder with subfolders that have roots of their own gets one link per entry
# instead, leaving those subfolders out.
function(pagewick_layer_headers target scope folder)
  string(REPLACE "/" "+" name ${folder})
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  set(mirror ${root}/${folder})
  set(source ${PROJECT_SOURCE_DIR}/${folder})
  set(own_roots "")
  foreach(layer IN LISTS PAGEWICK_LAYER_FOLDERS)
    if(layer MATCHES "^${folder}/[^/]+$")
      list(APPEND own_roots ${layer})
    endif()
  endforeach()
  if(NOT own_roots)
    if(NOT IS_SYMLINK ${mirror})
      get_filename_component(parent ${mirror} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${source} ${mirror} SYMBOLIC)
    endif()
  else()
    if(IS_SYMLINK ${mirror})
      file(REMOVE ${mirror})
    endif()
    file(MAKE_DIRECTORY ${mirror})
    file(GLOB entries LIST_DIRECTORIES true RELATIVE ${source} CONFIGURE_DEPENDS ${source}/*)
    foreach(entry IN LISTS entries)
      if(NOT "${folder}/${entry}" IN_LIST own_roots AND NOT IS_SYMLINK ${mirror}/${entry})
        file(CREATE_LINK ${source}/${entry} ${mirror}/${entry} SYMBOLIC)
      endif()
    endforeach()
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

# Stops the configuration when a library of the table links a library of a
# folder that the table does not let it see. Called once every library exists.
function(pagewick_check_layer_links)
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" layer)
    foreach(target IN LISTS layer_targets)
      set(folder_of_${target} ${layer_folder})
    endforeach()
  endforeach()
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" layer)
    foreach(target IN LISTS layer_targets)
      if(NOT TARGET ${target})
        continue()
      endif()
      get_target_property(links ${target} LINK_LIBRARIES)
      get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
      foreach(link IN LISTS links interface_links)
        if(NOT link OR NOT DEFINED folder_of_${link})
          continue()
        endif()
        set(seen ${folder_of_${link}})
        if(NOT seen STREQUAL layer_folder AND NOT seen IN_LIST layer_sees)
          message(FATAL_ERROR "${target} (${layer_folder}/) links ${link} (${seen}/), which the layer table forbids")
        endif()
      endforeach()
    endforeach()
  endforeach()
endfunction()

# One test per forbidden pair of the table: compiles an include of the higher
# folder's header with the lower library's include roots, and passes when the
# header is not found. The probes run the tree's own build tool, one at a time.
function(pagewick_add_layering_probes probe_source)
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" lower)
    list(GET lower_targets 0 lower_target)
    foreach(other IN LISTS PAGEWICK_LAYER_TABLE)
      pagewick_layer_row("${other}" higher)
      if(higher_folder STREQUAL lower_folder OR higher_folder IN_LIST lower_sees)
        continue()
      endif()
      string(MAKE_C_IDENTIFIER "upward_${lower_target}_${higher_header}" name)
      add_library(${name} OBJECT EXCLUDE_FROM_ALL ${probe_source})
      target_include_directories(${name} PRIVATE $<TARGET_PROPERTY:${lower_target},INCLUDE_DIRECTORIES>)
      target_compile_definitions(${name} PRIVATE PAGEWICK_UPWARD_HEADER="${higher_header}")
      set(test layering.${lower_target}.DoesNotSee.${higher_header})
      add_test(NAME ${test} COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${name})
      set_tests_properties(${test} PROPERTIES PASS_REGULAR_EXPRESSION "${higher_header}: No such file or directory"
                                              RESOURCE_LOCK pagewick_build_tree)
    endforeach()
  endforeach()
endfunction()
