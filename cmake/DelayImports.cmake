# kelvora_link_system_dlls(<library> <dll>...): <library> needs these system
# DLLs. A program linked with it imports them as usual, or, when it sets the
# target property KELVORA_DELAY_LOAD, through delay-import libraries made
# here from MinGW-w64's import libraries (cmake/delay_import_library.cmake).
# MSVC builds name the same DLLs in /DELAYLOAD instead.
define_property(TARGET PROPERTY KELVORA_DELAY_LOAD
  BRIEF_DOCS "Import the system DLLs of kelvora_link_system_dlls on first use")

set(kelvora_delay_dir ${CMAKE_BINARY_DIR}/delay-imports)
if(NOT TARGET kelvora_delay_imports)
  add_custom_target(kelvora_delay_imports)
endif()

function(kelvora_link_system_dlls library)
  set(delayed "$<BOOL:$<TARGET_PROPERTY:KELVORA_DELAY_LOAD>>")
  foreach(dll ${ARGN})
    if(MINGW)
      set(output ${kelvora_delay_dir}/lib${dll}_delay.a)
      if(NOT TARGET kelvora_delay_${dll})
        execute_process(COMMAND ${CMAKE_C_COMPILER} -print-file-name=lib${dll}.a
                        OUTPUT_VARIABLE import_library OUTPUT_STRIP_TRAILING_WHITESPACE)
        string(TOUPPER ${dll} upper)
        add_custom_command(OUTPUT ${output}
          COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DDLLTOOL=${CMAKE_DLLTOOL} -DIMPORT_LIBRARY=${import_library}
                  -DDLL_NAME=${upper}.dll -DOUTPUT=${output} -P ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.cmake
          DEPENDS ${import_library} ${PROJECT_SOURCE_DIR}/cmake/delay_import_library.cmake
          COMMENT "Delay-import library for ${dll}.dll" VERBATIM)
        add_custom_target(kelvora_delay_${dll} DEPENDS ${output})
        add_dependencies(kelvora_delay_imports kelvora_delay_${dll})
      endif()
      target_link_libraries(${library} PUBLIC "$<IF:${delayed},${output},${dll}>")
    else()
      target_link_libraries(${library} PUBLIC ${dll})
      if(MSVC)
        target_link_options(${library} INTERFACE "$<${delayed}:/DELAYLOAD:${dll}.dll>")
        target_link_libraries(${library} PUBLIC "$<${delayed}:delayimp>")
      endif()
    endif()
  endforeach()
endfunction()
