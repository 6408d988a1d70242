# A release names no folder of the build that made it: a build folder may
# be anyone's, and a copy of the program run elsewhere would run or read
# what another user put there. Installs this build as a release is made
# (stripped) into a scratch folder and reads the strings of every file, as
# `strings` does, in UTF-8 and in UTF-16 (QStringLiteral's). Run with -DBUILD=<build folder> -DSOURCE=<project folder>
# -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${SCRATCH}" --strip
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "the build did not install")
endif()
set(failures "")
foreach(folder IN ITEMS "${BUILD}" "${SOURCE}")
  string(REGEX REPLACE "([][.+*?^$()|\\\\])" "\\\\\\1" escaped "${folder}")
  list(APPEND patterns "${escaped}")
endforeach()
list(JOIN patterns "|" pattern)
file(GLOB_RECURSE files "${SCRATCH}/*")
foreach(file IN LISTS files)
  foreach(encoding IN ITEMS UTF-8 UTF-16LE)
    file(STRINGS "${file}" hits REGEX "${pattern}" ENCODING ${encoding})
    foreach(hit IN LISTS hits)
      string(APPEND failures "\n  ${file}: ${hit}")
    endforeach()
  endforeach()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
if(failures)
  message(FATAL_ERROR "build paths in the installed files:${failures}")
endif()
