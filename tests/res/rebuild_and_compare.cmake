# Builds the executable again in a fresh folder and requires the same bytes.
set(again "${CMAKE_CURRENT_BINARY_DIR}/windows-rebuild")
file(REMOVE_RECURSE "${again}")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" -B "${again}" -G Ninja
                        -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
                        -DBUILD_TESTING=OFF
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${again}" --target varnholt
                COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET)
file(SHA256 "${BUILT}" first)
file(SHA256 "${again}/varnholt.exe" second)
file(REMOVE_RECURSE "${again}")
if(NOT first STREQUAL second)
  message(FATAL_ERROR "two builds differ: ${first} and ${second}")
endif()
message(STATUS "two builds are identical: ${first}")
