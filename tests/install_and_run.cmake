# Installs the build into a fresh prefix, requires exactly the tool and its documents
# there, and runs the installed tool piped.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${PREFIX}"
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
set(expected bin/varnholt share/doc/varnholt/LICENSE share/doc/varnholt/README.md)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed ${installed}, not ${expected}")
endif()

file(WRITE "${PREFIX}/input" "not an address\n")
execute_process(COMMAND "${PREFIX}/bin/varnholt" INPUT_FILE "${PREFIX}/input"
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "Failed: Invalid url\n"
   OR NOT output MATCHES "\nUrl: Url: $")
  message(FATAL_ERROR "the installed tool ended with ${status}, wrote '${errors}' and '${output}'")
endif()
message(STATUS "installed and ran: ${installed}")
