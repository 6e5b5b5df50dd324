# Rebuilds one example table from its text form and compares it with the committed binary.
execute_process(COMMAND "${TWODA}" build "${SOURCE}" "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "twoda build failed on ${SOURCE}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUT}" "${BINARY}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${BINARY} does not match ${SOURCE}; rebuild it with twoda build")
endif()
