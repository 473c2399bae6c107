# Interface targets that every project target links: warnings and options.
add_library(pagewick_warnings INTERFACE)
target_compile_options(pagewick_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wimplicit-fallthrough)
option(PAGEWICK_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (on in the presets CI uses)" OFF)
if(PAGEWICK_WARNINGS_AS_ERRORS)
  target_compile_options(pagewick_warnings INTERFACE -Werror)
endif()
# Clang checks the locks that guard annotated members (platform/ThreadSafety.h).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  target_compile_options(pagewick_warnings INTERFACE -Wthread-safety)
endif()

# Include roots are per folder (cmake/Layers.cmake), never the project root.
add_library(pagewick_options INTERFACE)
if(PAGEWICK_BACKEND STREQUAL "win32")
  target_compile_definitions(pagewick_options INTERFACE PAGEWICK_WIN32=1)
  # Run under Wine without copying the compiler's runtime DLLs.
  target_link_options(pagewick_options INTERFACE -static-libgcc -static-libstdc++ -static)
else()
  target_compile_definitions(pagewick_options INTERFACE PAGEWICK_HOST=1)
  find_package(Threads REQUIRED)
  target_link_libraries(pagewick_options INTERFACE Threads::Threads)
endif()

option(PAGEWICK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(PAGEWICK_SANITIZE)
  target_compile_options(pagewick_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(pagewick_options INTERFACE -fsanitize=address,undefined)
endif()

option(PAGEWICK_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(PAGEWICK_SANITIZE_THREAD)
  if(PAGEWICK_SANITIZE)
    message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer")
  endif()
  target_compile_options(pagewick_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(pagewick_options INTERFACE -fsanitize=thread)
endif()

# libFuzzer builds (clang): the project's code gets the coverage feedback and
# the sanitizers; only the fuzz targets link libFuzzer's own main.
if(PAGEWICK_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzzers need clang (the fuzz preset chooses it)")
  endif()
  if(PAGEWICK_SANITIZE OR PAGEWICK_SANITIZE_THREAD)
    message(FATAL_ERROR "The fuzz build brings its own sanitizers")
  endif()
  target_compile_options(pagewick_options INTERFACE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(pagewick_options INTERFACE -fsanitize=address,undefined)
endif()

# Thread checks (platform/ThreadChecker.h): on in Debug and sanitizer builds, free elsewhere.
if(PAGEWICK_SANITIZE OR PAGEWICK_SANITIZE_THREAD OR PAGEWICK_BUILD_FUZZERS)
  target_compile_definitions(pagewick_options INTERFACE PAGEWICK_THREAD_CHECKS=1)
else()
  target_compile_definitions(pagewick_options INTERFACE $<$<CONFIG:Debug>:PAGEWICK_THREAD_CHECKS=1>)
endif()
