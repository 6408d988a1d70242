# The stress tool compares poppler's drawing of each copy with the
# original's, and lists a file drawn differently apart, with how many pixels
# differ, without failing it. A file saved and exported as it was is not
# listed; with a pdftoppm that draws every copy but the original at another
# resolution, the unchanged copy and both exports are listed, the file still
# passes, and --keep keeps the original and the copies. A damaged file whose
# save is refused and whose export is then made again is not listed either.
# Run with -DSTRESS=<ravlen-stress> -DPDF=<a PDF file> -DREFUSED=<a PDF whose save
# is refused> -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}/bin" "${SCRATCH}/files")
file(COPY "${PDF}" DESTINATION "${SCRATCH}/files")
find_program(PDFTOPPM pdftoppm REQUIRED)
file(WRITE "${SCRATCH}/bin/pdftoppm"
     "#!/bin/sh\ncase \"$*\" in\n*/original/*) exec '${PDFTOPPM}' \"$@\" ;;\nesac\nexec '${PDFTOPPM}' \"$@\" -r 40\n")
file(CHMOD "${SCRATCH}/bin/pdftoppm" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

foreach(poppler IN ITEMS alike redrawn)
  set(path "$ENV{PATH}")
  if(poppler STREQUAL "redrawn")
    set(path "${SCRATCH}/bin:${path}")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" -E env "PATH=${path}" "${STRESS}" --keep "${SCRATCH}/kept-${poppler}"
                          "${SCRATCH}/files"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors TIMEOUT 120)
  if(NOT result EQUAL 0 OR NOT output MATCHES "\n1 passed")
    message(FATAL_ERROR "${poppler}: the file did not pass:\n${output}")
  endif()
  if(poppler STREQUAL "alike")
    if(NOT output MATCHES "poppler draws or reads 0 files differently" OR EXISTS "${SCRATCH}/kept-${poppler}")
      message(FATAL_ERROR "a file saved and exported unchanged is listed as drawn differently:\n${output}")
    endif()
    continue()
  endif()
  foreach(copy IN ITEMS "the copy saved with no edit" "Export PDF" "Export Flattened PDF")
    if(NOT output MATCHES "poppler draws or reads 1 files differently.*\n  [^\n]*${copy}: ([0-9]+) of ([0-9]+) pixels differ")
      message(FATAL_ERROR "${copy} is not listed as drawn differently:\n${output}")
    endif()
  endforeach()
  get_filename_component(name "${PDF}" NAME)
  foreach(kept IN ITEMS original saved export-pdf export-flattenedPDF)
    if(NOT EXISTS "${SCRATCH}/kept-${poppler}/files-${name}/${kept}.pdf")
      message(FATAL_ERROR "--keep did not keep ${kept}.pdf:\n${output}")
    endif()
  endforeach()
endforeach()
file(MAKE_DIRECTORY "${SCRATCH}/refused")
file(COPY "${REFUSED}" DESTINATION "${SCRATCH}/refused")
execute_process(COMMAND "${STRESS}" "${SCRATCH}/refused" RESULT_VARIABLE result OUTPUT_VARIABLE output
                ERROR_VARIABLE errors TIMEOUT 120)
if(NOT output MATCHES "0 passed, 1 refused" OR NOT output MATCHES "poppler draws or reads 0 files differently")
  message(FATAL_ERROR "a refused file exported again is listed as drawn differently:\n${output}")
endif()
file(REMOVE_RECURSE "${SCRATCH}")
