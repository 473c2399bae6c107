# The Windows Installer package and Authenticode signatures, as functions for
# the package step (cmake/PackageStaged.cmake) and as a script for the
# packages of the Wine tests:
#
#   cmake -D PAGEWICK_MSI_FILES="<the five files, separated by |>" -D PAGEWICK_MSI_VERSION=0.1.0
#         -D PAGEWICK_MSI_OUTPUT=<file.msi> -D PAGEWICK_SOURCE_DIR=<source>
#         [-D PAGEWICK_MSI_EXE_SUFFIX=<text>] -P cmake/BuildMsi.cmake
#
# PAGEWICK_MSI_EXE_SUFFIX appends bytes to the packaged pagewick.exe (after
# its image, where the loader never looks), so that a test can tell the
# executables of two packages apart.

# Signs a PE file or an MSI in place with osslsigncode when a PFX is given.
function(pagewick_sign file pfx password_file timestamp_url)
  if(NOT pfx)
    return()
  endif()
  find_program(PAGEWICK_OSSLSIGNCODE osslsigncode REQUIRED)
  set(arguments sign -pkcs12 ${pfx} -h sha256 -n Pagewick)
  if(password_file)
    list(APPEND arguments -readpass ${password_file})
  endif()
  if(timestamp_url)
    list(APPEND arguments -ts ${timestamp_url})
  endif()
  execute_process(COMMAND ${PAGEWICK_OSSLSIGNCODE} ${arguments} -in ${file} -out ${file}.signed
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    file(REMOVE ${file}.signed)
    message(FATAL_ERROR "osslsigncode could not sign ${file}: ${output}")
  endif()
  file(RENAME ${file}.signed ${file})
endfunction()

# Builds <output> from the five files with packaging/pagewick.wxs.
function(pagewick_build_msi files version output source_dir exe_suffix)
  find_program(PAGEWICK_WIXL wixl REQUIRED)
  find_program(PAGEWICK_MSIBUILD msibuild REQUIRED)
  # wixl finds the sources relative to its working folder.
  set(stage ${output}.files)
  file(REMOVE_RECURSE ${stage})
  file(MAKE_DIRECTORY ${stage})
  file(COPY ${files} DESTINATION ${stage})
  file(COPY_FILE ${source_dir}/resources/TrayIcon.ico ${stage}/pagewick.ico)
  if(exe_suffix)
    file(APPEND ${stage}/pagewick.exe "${exe_suffix}")
  endif()
  file(REMOVE ${output})
  execute_process(COMMAND ${PAGEWICK_WIXL} -a x86 -D Version=${version} -o ${output}
                          ${source_dir}/packaging/pagewick.wxs
                  WORKING_DIRECTORY ${stage} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT result EQUAL 0 OR NOT EXISTS ${output})
    message(FATAL_ERROR "wixl could not build ${output}: ${out}")
  endif()
  # What wixl has no attribute for, written into its tables: the service is
  # vital (a service that cannot be registered fails the install instead of
  # asking to ignore it), each key the package writes goes at uninstall
  # with everything in it, and the settings files that REMOVESETTINGS=1
  # removes at uninstall, named through properties that only that sets (a
  # row whose folder property is empty removes nothing). The folder's row
  # sorts after its files' rows (Wine's installer takes them in key order),
  # so it is empty when its turn comes.
  set(application "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application")
  set(queries
      "UPDATE `ServiceInstall` SET `ErrorControl` = 32769 WHERE `ServiceInstall` = 'Service1'"
      "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSourceKeyService1', 2, '${application}\\Service1', '-', 'EventSources')"
      "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('EventSourceKeyExecutable', 2, '${application}\\pagewick.exe', '-', 'EventSources')"
      "INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('StartMenuKey', 2, 'Software\\Pagewick', '-', 'StartMenu')"
      "DELETE FROM `RemoveFile` WHERE `FileKey` = 'SettingsDataFolder'")
  foreach(folder Data Program)
    string(TOUPPER "SETTINGS${folder}FOLDER" property)
    foreach(file pagewick.info tmp.jpg)
      string(REPLACE "." "" key "Settings${folder}${file}")
      list(APPEND queries
           "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('${key}', 'Program', '${file}', '${property}', 2)")
    endforeach()
  endforeach()
  # The service's record of transfers in progress goes at every uninstall but
  # an upgrade's (the new version settles what the record lists); its keys
  # sort before the folder's row too.
  foreach(folder Data Program)
    string(TOUPPER "TRANSFERS${folder}FOLDER" property)
    list(APPEND queries
         "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode`) VALUES ('Settings${folder}pagewicktransfers', 'Program', 'pagewick.transfers', '${property}', 2)")
  endforeach()
  list(APPEND queries
       "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `DirProperty`, `InstallMode`) VALUES ('SettingsFolder', 'Program', 'SETTINGSDATAFOLDER', 2)")
  foreach(query IN LISTS queries)
    execute_process(COMMAND ${PAGEWICK_MSIBUILD} ${output} -q "${query}"
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "msibuild could not change ${output} (${query}): ${out}")
    endif()
  endforeach()
  file(REMOVE_RECURSE ${stage})
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  foreach(required PAGEWICK_MSI_FILES PAGEWICK_MSI_VERSION PAGEWICK_MSI_OUTPUT PAGEWICK_SOURCE_DIR)
    if(NOT DEFINED ${required})
      message(FATAL_ERROR "BuildMsi.cmake needs -D ${required}=...")
    endif()
  endforeach()
  string(REPLACE "|" ";" files "${PAGEWICK_MSI_FILES}")
  pagewick_build_msi("${files}" ${PAGEWICK_MSI_VERSION} ${PAGEWICK_MSI_OUTPUT} ${PAGEWICK_SOURCE_DIR}
                     "${PAGEWICK_MSI_EXE_SUFFIX}")
endif()
