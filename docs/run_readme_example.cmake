# Runs the README's C example and compares its output with the README's
# description: the refused threshold reported on standard error, then two
# lines on standard output.
execute_process(COMMAND ${EXE} OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
set(want "status: Bad argument\nfirst sample: 150\n")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the example exited with ${rc}\n${out}${err}")
endif()
if(NOT out STREQUAL want)
  message(FATAL_ERROR "standard output:\n${out}\nexpected:\n${want}")
endif()
if(NOT err MATCHES "vexThreshold")
  message(FATAL_ERROR "no report of vexThreshold on standard error:\n${err}")
endif()
