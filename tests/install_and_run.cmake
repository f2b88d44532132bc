# Builds the tool as a user or a packager does, with the app preset and a distribution's own
# fortify level, which must neither clash with the project's nor stop the build; installs it
# into a fresh prefix, requires exactly the tool and its documents there, and runs it piped.
file(REMOVE_RECURSE "${BUILD}" "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --preset app -B "${BUILD}"
                        -DCMAKE_CXX_FLAGS=-D_FORTIFY_SOURCE=3
                WORKING_DIRECTORY "${SOURCE}" COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${BUILD}"
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
file(READ "${BUILD}/compile_commands.json" commands)
file(STRINGS "${BUILD}/CMakeCache.txt" strict REGEX "^CMAKE_COMPILE_WARNING_AS_ERROR:[A-Z]*=ON")
if(commands MATCHES "_FORTIFY_SOURCE=2" OR strict)
  message(FATAL_ERROR "the app build sets its own fortify level over the builder's, or stops on "
                      "warnings (${strict})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD}" --prefix "${PREFIX}"
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
file(GLOB_RECURSE installed RELATIVE "${PREFIX}" "${PREFIX}/*")
list(SORT installed)
set(expected bin/varnholt share/doc/varnholt/LICENSE share/doc/varnholt/README.md)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed ${installed}, not ${expected}")
endif()

file(WRITE "${BUILD}/input" "not an address\n")
execute_process(COMMAND "${PREFIX}/bin/varnholt" INPUT_FILE "${BUILD}/input"
                OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT errors STREQUAL "Failed: Invalid url\n"
   OR NOT output MATCHES "\nUrl: Url: $")
  message(FATAL_ERROR "the installed tool ended with ${status}, wrote '${errors}' and '${output}'")
endif()
message(STATUS "built with the app preset, installed and ran: ${installed}")
