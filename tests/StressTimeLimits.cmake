# The stress tool runs outside programs that may never end (pdfsig loops on
# some forms): each must be ended at its time limit with its process group,
# and none may outlive the run. A pdfsig that never ends, and leaves a second
# process in its group, stands in for poppler's here; the run must finish
# and leave neither behind.
# Run with -DSTRESS=<ravlen-stress> -DPDF=<a PDF file> -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/bin" "${SCRATCH}/files")
file(COPY "${PDF}" DESTINATION "${SCRATCH}/files")
file(WRITE "${SCRATCH}/bin/pdfsig" "#!/bin/sh\nsleep 1000 &\necho $! >> '${SCRATCH}/pids'\necho $$ >> '${SCRATCH}/pids'\nwhile :; do :; done\n")
file(CHMOD "${SCRATCH}/bin/pdfsig" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PATH=${SCRATCH}/bin:$ENV{PATH}" "${STRESS}" "${SCRATCH}/files"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 120)
if(NOT EXISTS "${SCRATCH}/pids")
  message(FATAL_ERROR "the stand-in pdfsig never ran:\n${output}")
endif()
if(NOT output MATCHES "pdfsig killed at its time limit" OR output MATCHES "hung")
  message(FATAL_ERROR "the run did not end pdfsig at its time limit:\n${output}")
endif()
# A process killed is gone, or a zombie until whoever inherited it reaps it.
file(STRINGS "${SCRATCH}/pids" pids)
foreach(pid IN LISTS pids)
  set(state "")
  if(EXISTS "/proc/${pid}/stat")
    file(READ "/proc/${pid}/stat" state)
  endif()
  if(state AND NOT state MATCHES "\\) [ZX] ")
    execute_process(COMMAND kill -9 ${pid} OUTPUT_QUIET ERROR_QUIET)
    message(FATAL_ERROR "process ${pid} of the stand-in pdfsig outlived the run:\n${output}")
  endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
