# The stress tool judges every copy it writes against the original, and a
# file fails on the first bad copy, whatever comes after. Stand-ins make the
# copies bad as other readers see them, the original as it is:
#  - qpdf warns of a key glued to its value in every copy: the first save with
#    no edit already counts as damaged, and the file fails;
#  - poppler reads no page of any copy: a signed file's revision that keeps
#    the round trip's deleted marks is then no excuse, and the file fails.
# Run with -DSTRESS=<ravlen-stress> -DPDF=<a PDF file> -DSIGNED=<a signed PDF file>
# -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/qpdf" "${SCRATCH}/poppler" "${SCRATCH}/files" "${SCRATCH}/signed")
file(COPY "${PDF}" DESTINATION "${SCRATCH}/files")
file(COPY "${SIGNED}" DESTINATION "${SCRATCH}/signed")
find_program(QPDF qpdf REQUIRED)
find_program(PDFINFO pdfinfo REQUIRED)
# The original lies under the scratch folder; the tool writes its copies elsewhere.
file(WRITE "${SCRATCH}/qpdf/qpdf"
     "#!/bin/sh\ncase \"$*\" in\n*'${SCRATCH}'*|--json*) exec '${QPDF}' \"$@\" ;;\nesac\n"
     "for f in \"$@\"; do last=\"$f\"; done\n"
     "echo \"WARNING: $last (object 3 0, offset 208): expected dictionary key but found non-name object; "
     "inserting key /QPDFFake1\"\necho 'qpdf: operation succeeded with warnings'\nexit 3\n")
file(WRITE "${SCRATCH}/poppler/pdfinfo"
     "#!/bin/sh\ncase \"$*\" in\n*'${SCRATCH}'*) exec '${PDFINFO}' \"$@\" ;;\nesac\n"
     "echo 'Syntax Error: Top-level pages object is wrong type (null)' >&2\nexit 1\n")
foreach(stand_in IN ITEMS qpdf/qpdf poppler/pdfinfo)
  file(CHMOD "${SCRATCH}/${stand_in}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()

function(stress bin folder)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PATH=${SCRATCH}/${bin}:$ENV{PATH}" "${STRESS}" "${SCRATCH}/${folder}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 200)
  if(result EQUAL 0 OR NOT output MATCHES "\n0 passed, 0 refused [^\n]*, 1 failed")
    message(FATAL_ERROR "${bin}: the file did not fail:\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

stress(qpdf files)
if(NOT output MATCHES "FAILED: \\[damaged\\] the copy written to memory"
   OR NOT output MATCHES "\\[damaged\\] the copy saved with no edit: qpdf --check warns of what it does not find in the original \\(expected dictionary key"
   OR NOT output MATCHES "\n +1 damaged: ")
  message(FATAL_ERROR "the copy saved with no edit is not counted as damaged:\n${output}")
endif()

stress(poppler signed)
if(NOT output MATCHES "\\[poppler-pages\\] the marks round trip's copy with the marks deleted: poppler cannot read it"
   OR NOT output MATCHES "no excuse here"
   OR NOT output MATCHES "\n +1 poppler-pages: "
   OR NOT output MATCHES "0 files keep the deleted marks in the revision their update appends to")
  message(FATAL_ERROR "a signed file poppler cannot read is excused by its signed revision:\n${output}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
