# The program links both imaging modules at start: with one of them missing it
# must not start, and the loader must name the missing module.
#   cmake -DPROGRAM=<pagewick> -DMODULES_DIR=<dir of the modules> -DWORK=<scratch dir> -P MissingImagingModule.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/tools ${WORK}/imaging)
file(COPY ${PROGRAM} DESTINATION ${WORK}/tools)
get_filename_component(program_name ${PROGRAM} NAME)

foreach(missing libpwimgkrn.so libpwimgfil.so)
  file(REMOVE ${WORK}/imaging/libpwimgkrn.so ${WORK}/imaging/libpwimgfil.so)
  foreach(module libpwimgkrn.so libpwimgfil.so)
    if(NOT module STREQUAL missing)
      file(COPY ${MODULES_DIR}/${module} DESTINATION ${WORK}/imaging)
    endif()
  endforeach()
  execute_process(COMMAND ${WORK}/tools/${program_name}
                  RESULT_VARIABLE result ERROR_VARIABLE errors OUTPUT_VARIABLE output TIMEOUT 30)
  if(result EQUAL 0)
    message(FATAL_ERROR "the program started without ${missing}")
  endif()
  if(NOT errors MATCHES "${missing}")
    message(FATAL_ERROR "the loader's message does not name ${missing}: ${errors}")
  endif()
  message(STATUS "without ${missing}: ${errors}")
endforeach()
file(REMOVE_RECURSE ${WORK})
