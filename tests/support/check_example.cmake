# Rebuilds one example table from its source and compares it with the committed binary.
execute_process(COMMAND "${MAKE_TABLE}" "${SOURCE}" "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "make_table failed on ${SOURCE}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${OUT}" "${BINARY}" RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${BINARY} does not match ${SOURCE}; rebuild it with make_table")
endif()
