# Makes a delay-import library for one system DLL from MinGW-w64's import
# library of it: every function the import library names, so that whatever
# the program calls of that DLL is resolved on first use, after the program
# has limited where DLLs are loaded from.
#   cmake -DNM=... -DDLLTOOL=... -DIMPORT_LIBRARY=.../libuser32.a
#         -DDLL_NAME=USER32.dll -DOUTPUT=.../libuser32_delay.a -P delay_import_library.cmake
foreach(variable NM DLLTOOL IMPORT_LIBRARY DLL_NAME OUTPUT)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "delay_import_library.cmake: ${variable} is not set")
  endif()
endforeach()

execute_process(COMMAND "${NM}" -g --defined-only "${IMPORT_LIBRARY}"
                OUTPUT_VARIABLE symbols RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${IMPORT_LIBRARY}")
endif()
# Each import stub defines the function itself as code ("T name").
string(REGEX MATCHALL "[0-9a-fA-F]+ T [A-Za-z_][A-Za-z0-9_@]*" stubs "${symbols}")
set(exports "")
foreach(stub ${stubs})
  string(REGEX REPLACE "^[0-9a-fA-F]+ T " "" name "${stub}")
  list(APPEND exports "${name}")
endforeach()
list(REMOVE_DUPLICATES exports)
list(SORT exports)
list(LENGTH exports count)
if(count EQUAL 0)
  message(FATAL_ERROR "no functions found in ${IMPORT_LIBRARY}")
endif()
list(JOIN exports "\n  " lines)
get_filename_component(folder "${OUTPUT}" DIRECTORY)
set(definition "${folder}/${DLL_NAME}.def")
file(WRITE "${definition}" "LIBRARY ${DLL_NAME}\nEXPORTS\n  ${lines}\n")
execute_process(COMMAND "${DLLTOOL}" --input-def "${definition}" --dllname "${DLL_NAME}"
                        --output-delaylib "${OUTPUT}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not make ${OUTPUT}")
endif()
