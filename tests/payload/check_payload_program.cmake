# cmake -DPROGRAM=... [-DARGUMENT=a;b] -DCONTAINER=... [-DEXPECTED_MORE=...] -P check_payload_program.cmake
# Passes when PROGRAM exits 0 and prints "OK <length> <SHA-256>" of CONTAINER,
# followed by the line EXPECTED_MORE when one is given.
file(SIZE "${CONTAINER}" length)
file(SHA256 "${CONTAINER}" sha256)
set(expected "OK ${length} ${sha256}\n")
if(DEFINED EXPECTED_MORE)
  string(APPEND expected "${EXPECTED_MORE}\n")
endif()
execute_process(COMMAND "${PROGRAM}" ${ARGUMENT} RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL expected)
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENT}: exit ${result}, output '${output}', expected '${expected}'")
endif()
