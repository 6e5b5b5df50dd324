# Runs headlink on a fresh copy of the example kit and shows what changed.
# Called by the run_example target: cmake -DHEADLINK=... -DDUMP=... -DKIT=... -DWORK=... -P run_example.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(GLOB kit "${KIT}/*.2da" "${KIT}/*.txt")
file(COPY ${kit} DESTINATION "${WORK}")

message(STATUS "Running headlink in ${WORK}")
execute_process(COMMAND "${HEADLINK}" WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "headlink failed (exit status ${status})")
endif()

foreach(name appearance heads portraits)
  execute_process(COMMAND "${DUMP}" "${name}_updated.2da" --changes "${name}.2da"
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "could not list ${name}_updated.2da")
  endif()
endforeach()
