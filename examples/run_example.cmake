# Runs headlink on a fresh copy of the example kit and prints its report of
# the rows it found or added and the cells it set, then what twoda diff sees
# between each table and its updated copy.
# Called by the run_example target:
#   cmake -DHEADLINK=... -DTWODA=... -DKIT=... -DWORK=... -P run_example.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
foreach(name appearance.2da heads.2da portraits.2da
             head.txt apphead1.txt apphead2.txt apphead3.txt portraits.txt)
  file(COPY "${KIT}/${name}" DESTINATION "${WORK}")
endforeach()

message(STATUS "Running headlink -v in ${WORK}")
execute_process(COMMAND "${HEADLINK}" -v WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "headlink failed (exit status ${status})")
endif()
foreach(name heads appearance portraits)
  message(STATUS "twoda diff ${name}.2da ${name}_updated.2da")
  execute_process(COMMAND "${TWODA}" diff ${name}.2da ${name}_updated.2da
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status)
  # 1 means the tables differ, as they should; 2 is trouble.
  if(NOT status EQUAL 1)
    message(FATAL_ERROR "twoda diff failed on ${name}.2da (exit status ${status})")
  endif()
endforeach()
message(STATUS "The updated tables are in ${WORK}")
