# cmake -DPROGRAM=... -DARGUMENT=... -DEXPECTED=... -P expect_output.cmake
# Passes when PROGRAM ARGUMENT exits 0 and prints exactly EXPECTED and a line end.
execute_process(COMMAND "${PROGRAM}" ${ARGUMENT} RESULT_VARIABLE result OUTPUT_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "${EXPECTED}\n")
  message(FATAL_ERROR "${PROGRAM} ${ARGUMENT}: exit ${result}, output '${output}', expected '${EXPECTED}'")
endif()
