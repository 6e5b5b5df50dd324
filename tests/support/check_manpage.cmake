# Formats the manual page with every groff warning turned on and the output
# thrown away (-ww -z): any message at all, or a failed run, fails the check.
# cmake -DGROFF=... -DPAGE=... -P check_manpage.cmake
if(NOT GROFF)
  message("groff not found: ${PAGE} is not checked")
  return()
endif()
execute_process(COMMAND "${GROFF}" -man -ww -z "${PAGE}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out STREQUAL "" OR NOT err STREQUAL "")
  message(FATAL_ERROR "groff -man -ww -z ${PAGE} (exit status ${status}):\n${out}${err}")
endif()
