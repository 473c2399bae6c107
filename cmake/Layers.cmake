# One library per folder of the program, linked along the allowed arrows of
# the table below. A folder's headers are seen only by the targets that link
# its library: its include root (below the build tree) mirrors the folder, so
# "ui/MainForm.h" named in scanner/ is not found, and an upward include fails
# to compile.
#
# The table: a folder, the libraries that hold it (the layering probes
# compile with each of them), the folders whose headers it may see, and one
# header of the folder that the probes name. Every folder the table does not
# allow is forbidden, and tests/ holds one probe per forbidden pair and
# library. tools/ and tests/ stand on top of everything and are not in the
# table: they see what they link and their own headers, never an adapter's.
# The "sees" relation, and the links among the table's libraries, must go one
# way: a cycle stops the configuration.
#
#   platform/facilities the facility headers of platform/ whose types the host
#                       world speaks (a root of its own, no code): below both
#                       the world and the platform's library
#   platform/hostworld  the simulated Windows of the host build: seen only by
#                       the host backend's adapters (privately), the tools and
#                       the tests; it calls nothing of the platform's library
#   platform/toolkit    the window controls, at the level of the window
#   platform/host, platform/win32  the backend adapters: private to the
#                       platform's and the toolkit's libraries
set(PAGEWICK_LAYER_TABLE
  "jpeg|pagewick_jpeg_support||jpeg/JpegTrap.h"
  "imaging|pwimgfil pwimgkrn pagewick_imaging|jpeg|imaging/pwimaging.h"
  "platform/facilities|pagewick_platform_facilities||platform/Handle.h"
  "platform/hostworld|pagewick_host_world|platform/facilities|platform/hostworld/World.h"
  "platform|pagewick_platform|platform/facilities platform/hostworld|platform/ErrorSink.h"
  "platform/toolkit|pagewick_toolkit|platform platform/facilities platform/hostworld|platform/toolkit/Controls.h"
  "resources|pagewick_resources|platform platform/facilities platform/toolkit jpeg|resources/Pictures.h"
  "agent|pagewick_agent|platform platform/facilities|agent/AgentProtocol.h"
  "storage|pagewick_storage|platform platform/facilities imaging|storage/DestinationNaming.h"
  "scanner|pagewick_scanner|platform platform/facilities|scanner/ScannerState.h"
  "ui|pagewick_ui|agent scanner storage platform platform/facilities platform/toolkit resources|ui/MainForm.h"
  "sessionagent|pagewick_session_agent|ui agent scanner storage platform platform/facilities platform/toolkit|sessionagent/SessionAgent.h"
  "service|pagewick_service|sessionagent ui agent scanner storage platform platform/facilities platform/toolkit resources|service/Service.h")

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
set(PAGEWICK_LAYER_FOLDERS platform/host platform/win32 platform/winapi)
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

# The backend adapters: the folder, the table's folders whose libraries hold
# it (and alone see its headers), and one header of it that the probes name.
# No other library of the table, no tool and no test sees them.
set(PAGEWICK_LAYER_ADAPTERS
  "platform/host|platform platform/toolkit|platform/host/HostFiles.h"
  "platform/win32|platform platform/toolkit|platform/win32/Win32Ui.h")

# What a library of the table may link besides the table's libraries: the
# build's own settings, third-party libraries and the system's.
set(PAGEWICK_LAYER_EXTERNALS
  pagewick_options pagewick_warnings pagewick::jpeg pagewick::xxhash pagewick::windows_api Threads::Threads
  shell32 ole32 advapi32 user32 gdi32 comctl32 comdlg32 uuid)
# What the tools and the tests may link besides: the table's libraries and
# their externals, everything the program links (pagewick_app), each other's
# targets, and these.
set(PAGEWICK_TOOL_EXTERNALS
  pagewick_app GTest::gtest GTest::gtest_main benchmark::benchmark JPEG::JPEG ntoskrnl hal)

# The targets built from the sources of a folder of the project and of its
# subfolders (not those of a subproject built from elsewhere, as GoogleTest).
function(pagewick_targets_under directory out)
  set(found "")
  get_directory_property(source DIRECTORY ${directory} SOURCE_DIR)
  cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${source}" NORMALIZE inside)
  if(inside)
    get_directory_property(targets DIRECTORY ${directory} BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(NOT type STREQUAL "UTILITY")
        list(APPEND found ${target})
      endif()
    endforeach()
    get_directory_property(subdirectories DIRECTORY ${directory} SUBDIRECTORIES)
    foreach(subdirectory IN LISTS subdirectories)
      pagewick_targets_under(${subdirectory} more)
      list(APPEND found ${more})
    endforeach()
  endif()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# The tools' and the tests' targets.
function(pagewick_tool_targets out)
  set(folders tools)
  if(PAGEWICK_BUILD_TESTS)
    list(APPEND folders tests)
  endif()
  set(found "")
  foreach(folder IN LISTS folders)
    pagewick_targets_under(${PROJECT_SOURCE_DIR}/${folder} targets)
    list(APPEND found ${targets})
  endforeach()
  list(FILTER found EXCLUDE REGEX "^upward_")
  list(REMOVE_DUPLICATES found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# The libraries a target links, directly or for its users, without the
# generator expressions CMake wraps around a static library's private links
# and without its markers of the directory a link was added in.
function(pagewick_linked_libraries target out)
  get_target_property(links ${target} LINK_LIBRARIES)
  get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
  set(found "")
  foreach(link IN LISTS links interface_links)
    if(NOT link OR link MATCHES "^::@")
      continue()
    endif()
    if(link MATCHES "^\\$<LINK_ONLY:([^<>]+)>$")
      set(link ${CMAKE_MATCH_1})
    endif()
    list(APPEND found ${link})
  endforeach()
  list(REMOVE_DUPLICATES found)
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Every target whose headers the target sees through its links: those it
# links, and what they pass on to their users (not their private links).
function(pagewick_header_closure target out)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(pending ${target} INTERFACE_LINK_LIBRARIES)
  else()
    get_target_property(pending ${target} LINK_LIBRARIES)
  endif()
  set(found "")
  while(pending)
    list(POP_FRONT pending current)
    if(NOT TARGET "${current}" OR current IN_LIST found)
      continue()
    endif()
    list(APPEND found ${current})
    get_target_property(passed ${current} INTERFACE_LINK_LIBRARIES)
    if(passed)
      list(APPEND pending ${passed})
    endif()
  endwhile()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# Stops the configuration when a library of the table links a library of a
# folder that the table does not let it see, or anything that is neither in
# the table nor an allowed external; and when a tool or a test links anything
# but the table's libraries, the allowed externals and the tools' and tests'
# own targets, or compiles a backend adapter's source. Called once the tools
# and the tests exist.
function(pagewick_check_layer_links)
  set(table_targets "")
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" layer)
    foreach(target IN LISTS layer_targets)
      set(folder_of_${target} ${layer_folder})
      list(APPEND table_targets ${target})
    endforeach()
  endforeach()
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" layer)
    foreach(target IN LISTS layer_targets)
      if(NOT TARGET ${target})
        continue()
      endif()
      pagewick_linked_libraries(${target} links)
      foreach(link IN LISTS links)
        if(link IN_LIST PAGEWICK_LAYER_EXTERNALS)
          continue()
        endif()
        if(NOT DEFINED folder_of_${link})
          message(FATAL_ERROR "${target} (${layer_folder}/) links ${link}, which is neither a library of the layer "
                              "table nor an allowed external (PAGEWICK_LAYER_EXTERNALS in cmake/Layers.cmake)")
        endif()
        set(seen ${folder_of_${link}})
        if(NOT seen STREQUAL layer_folder AND NOT seen IN_LIST layer_sees)
          message(FATAL_ERROR "${target} (${layer_folder}/) links ${link} (${seen}/), which the layer table forbids")
        endif()
      endforeach()
    endforeach()
  endforeach()

  pagewick_tool_targets(tool_targets)
  set(adapter_folders "")
  foreach(adapter IN LISTS PAGEWICK_LAYER_ADAPTERS)
    string(REPLACE "|" ";" fields "${adapter}")
    list(GET fields 0 folder)
    list(APPEND adapter_folders ${PROJECT_SOURCE_DIR}/${folder})
  endforeach()
  foreach(target IN LISTS tool_targets)
    pagewick_linked_libraries(${target} links)
    foreach(link IN LISTS links)
      if(NOT link IN_LIST table_targets AND NOT link IN_LIST tool_targets AND NOT link IN_LIST PAGEWICK_LAYER_EXTERNALS
         AND NOT link IN_LIST PAGEWICK_TOOL_EXTERNALS)
        message(FATAL_ERROR "${target} links ${link}, which is neither a library of the layer table, a tool's or a "
                            "test's, nor an allowed external (PAGEWICK_TOOL_EXTERNALS in cmake/Layers.cmake)")
      endif()
    endforeach()
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    if(NOT sources)
      continue()
    endif()
    foreach(source IN LISTS sources)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE)
      foreach(folder IN LISTS adapter_folders)
        cmake_path(IS_PREFIX folder "${source}" NORMALIZE adapter_source)
        if(adapter_source)
          message(FATAL_ERROR "${target} compiles ${source}, a source of a backend adapter, which only the "
                              "platform's libraries hold")
        endif()
      endforeach()
    endforeach()
  endforeach()
  # pagewick_app gathers the program's libraries for the tools and tests: the
  # table's libraries only.
  if(TARGET pagewick_app)
    pagewick_linked_libraries(pagewick_app links)
    foreach(link IN LISTS links)
      if(NOT link IN_LIST table_targets)
        message(FATAL_ERROR "pagewick_app links ${link}, which is not a library of the layer table")
      endif()
    endforeach()
  endif()
endfunction()

# The first cycle found among the nodes (a list variable's name) along the
# edges held in the variables <prefix><node>, as "a -> b -> a" in <out>; empty
# when there is none. Peels off the nodes that nothing left points at; what
# remains lies on or behind a cycle, which a walk back along the edges finds.
function(pagewick_layer_cycle nodes prefix out)
  set(left ${${nodes}})
  foreach(node IN LISTS left)
    set(into_${node} 0)
  endforeach()
  foreach(node IN LISTS left)
    foreach(next IN LISTS ${prefix}${node})
      if(next IN_LIST left)
        math(EXPR into_${next} "${into_${next}} + 1")
      endif()
    endforeach()
  endforeach()
  set(peeled TRUE)
  while(peeled)
    set(peeled FALSE)
    foreach(node IN LISTS left)
      if(into_${node} EQUAL 0)
        list(REMOVE_ITEM left ${node})
        foreach(next IN LISTS ${prefix}${node})
          if(next IN_LIST left)
            math(EXPR into_${next} "${into_${next}} - 1")
          endif()
        endforeach()
        set(peeled TRUE)
      endif()
    endforeach()
  endwhile()
  if(NOT left)
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  # Every node left has an edge into it from another node left.
  list(GET left 0 node)
  set(walked "")
  while(NOT node IN_LIST walked)
    list(APPEND walked ${node})
    foreach(from IN LISTS left)
      if(node IN_LIST ${prefix}${from})
        set(node ${from})
        break()
      endif()
    endforeach()
  endwhile()
  list(FIND walked ${node} start)
  list(SUBLIST walked ${start} -1 cycle)
  list(REVERSE cycle)
  list(PREPEND cycle ${node})
  list(JOIN cycle " -> " text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Stops the configuration when the table's "sees" relation, or the links among
# the table's libraries, go round in a cycle: a layer stands on the layers
# below it only. Called once every library exists.
function(pagewick_check_layer_cycles)
  set(folders "")
  set(targets "")
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" layer)
    list(APPEND folders ${layer_folder})
    set(sees_${layer_folder} ${layer_sees})
    foreach(target IN LISTS layer_targets)
      if(TARGET ${target})
        list(APPEND targets ${target})
      endif()
    endforeach()
  endforeach()
  pagewick_layer_cycle(folders sees_ cycle)
  if(cycle)
    message(FATAL_ERROR "The layer table's \"sees\" relation has a cycle: ${cycle}")
  endif()
  foreach(target IN LISTS targets)
    get_target_property(links ${target} LINK_LIBRARIES)
    get_target_property(interface_links ${target} INTERFACE_LINK_LIBRARIES)
    set(links_${target} "")
    foreach(link IN LISTS links interface_links)
      if(link MATCHES "^\\$<LINK_ONLY:(.+)>$")
        set(link ${CMAKE_MATCH_1})
      endif()
      if(link IN_LIST targets)
        list(APPEND links_${target} ${link})
      endif()
    endforeach()
  endforeach()
  pagewick_layer_cycle(targets links_ cycle)
  if(cycle)
    message(FATAL_ERROR "The layer table's libraries link each other in a cycle: ${cycle}")
  endif()
endfunction()

# One probe, a test that compiles the probe source with the include roots of
# the target: the source stops with #error when the target's own header (if
# it links anything of the table) is not found, as roots gone wrong would
# make every probe pass, or when the header it may not see is found
# (__has_include). The test passes when the compile succeeds, whatever the
# compiler's wording. An interface library is probed with what it gives its
# users.
function(pagewick_add_layering_probe probe_source target own_header hidden_header)
  foreach(header IN ITEMS ${own_header} ${hidden_header})
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/${header})
      message(FATAL_ERROR "The layering probe of ${target} names ${header}, which does not exist")
    endif()
  endforeach()
  # Tools are named with dashes, their libraries with underscores.
  string(REPLACE "-" "__" name "${target}")
  string(MAKE_C_IDENTIFIER "upward_${name}_${hidden_header}" name)
  add_library(${name} OBJECT EXCLUDE_FROM_ALL ${probe_source})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_link_libraries(${name} PRIVATE ${target})
  else()
    target_include_directories(${name} PRIVATE $<TARGET_PROPERTY:${target},INCLUDE_DIRECTORIES>)
  endif()
  target_compile_definitions(${name} PRIVATE PAGEWICK_UPWARD_HEADER="${hidden_header}")
  if(own_header)
    target_compile_definitions(${name} PRIVATE PAGEWICK_OWN_HEADER="${own_header}")
  endif()
  set(test layering.${target}.DoesNotSee.${hidden_header})
  add_test(NAME ${test} COMMAND ${CMAKE_COMMAND} --build ${CMAKE_BINARY_DIR} --target ${name})
  set_tests_properties(${test} PROPERTIES RESOURCE_LOCK pagewick_build_tree)
endfunction()

# The layering probes: for every target of every row of the table, one per
# folder of the table that the row may not see and one per backend adapter
# that the row does not hold; for every tool and test target, one per backend
# adapter. The probes run the tree's own build tool, one at a time.
function(pagewick_add_layering_probes probe_source)
  foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
    pagewick_layer_row("${row}" lower)
    set(hidden "")
    foreach(other IN LISTS PAGEWICK_LAYER_TABLE)
      pagewick_layer_row("${other}" higher)
      if(NOT higher_folder STREQUAL lower_folder AND NOT higher_folder IN_LIST lower_sees)
        list(APPEND hidden ${higher_header})
      endif()
    endforeach()
    foreach(adapter IN LISTS PAGEWICK_LAYER_ADAPTERS)
      string(REPLACE "|" ";" fields "${adapter}")
      list(GET fields 1 holders)
      list(GET fields 2 header)
      separate_arguments(holders UNIX_COMMAND "${holders}")
      if(NOT lower_folder IN_LIST holders)
        list(APPEND hidden ${header})
      endif()
    endforeach()
    foreach(target IN LISTS lower_targets)
      if(NOT TARGET ${target})
        continue()
      endif()
      foreach(header IN LISTS hidden)
        pagewick_add_layering_probe(${probe_source} ${target} ${lower_header} ${header})
      endforeach()
    endforeach()
  endforeach()
  pagewick_tool_targets(tool_targets)
  foreach(target IN LISTS tool_targets)
    # The header that shows the probe's roots right: that of the first folder
    # of the table whose library the target links.
    pagewick_header_closure(${target} linked)
    set(own_header "")
    foreach(row IN LISTS PAGEWICK_LAYER_TABLE)
      pagewick_layer_row("${row}" layer)
      foreach(library IN LISTS layer_targets)
        if(library IN_LIST linked AND NOT own_header)
          set(own_header ${layer_header})
        endif()
      endforeach()
    endforeach()
    foreach(adapter IN LISTS PAGEWICK_LAYER_ADAPTERS)
      string(REPLACE "|" ";" fields "${adapter}")
      list(GET fields 2 header)
      pagewick_add_layering_probe(${probe_source} ${target} "${own_header}" ${header})
    endforeach()
  endforeach()
endfunction()
