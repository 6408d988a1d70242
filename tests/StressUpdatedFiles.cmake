# A file whose objects ravlen cannot read as other readers do is saved as an
# update of its own bytes: the marks round trip's save with the marks deleted
# appends to the copy with the marks, whose revision keeps them. The file
# passes, counted as keeping them by design, as a signed file is.
# Run with -DSTRESS=<ravlen-stress> -DPDF=<such a PDF file> -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/files")
file(COPY "${PDF}" DESTINATION "${SCRATCH}/files")
execute_process(COMMAND "${STRESS}" "${SCRATCH}/files" RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE errors TIMEOUT 200)
if(NOT result EQUAL 0 OR NOT output MATCHES "\n1 passed, 0 refused"
   OR NOT output MATCHES "by design, a deleted [a-z]+ mark is still in the file, in the revision the update appends to"
   OR NOT output MATCHES "1 files keep the deleted marks in the revision their update appends to")
  message(FATAL_ERROR "the file saved by an update did not pass, its deleted marks kept by design:\n${output}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
