# No program or library of the build, in the build tree or installed, looks
# for libraries in the folder it was started from: each entry of its RUNPATH
# (or RPATH) names a folder from the root or from its own ($ORIGIN). The
# loader reads an empty or a relative entry from the current folder, where
# another user may have put a library that would run as the user before
# anything could stop it. And each finds every library of ours it needs
# from where it lies, as the loader would, so that it starts from the build
# folder as from an install (a program a folder deeper than the others finds
# none). Reads the dynamic section of every program and library the build
# makes (listed in LIST) and of every ELF file of an install of the build
# into a scratch folder.
# Run with -DBUILD=<build folder> -DLIST=<list of the build's files> -DSCRATCH=<scratch folder>.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE "${SCRATCH}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${SCRATCH}"
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "the build did not install")
endif()
set(failures "")
set(read 0)
file(STRINGS "${LIST}" built)
file(GLOB_RECURSE installed LIST_DIRECTORIES false "${SCRATCH}/*")
foreach(file IN LISTS built installed)
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  unset(error)
  file(READ_ELF "${file}" RUNPATH runpath RPATH rpath CAPTURE_ERROR error)
  if(error)
    string(APPEND failures "\n  ${file}: ${error}")
    continue()
  endif()
  math(EXPR read "${read} + 1")
  # Our own libraries only: the system's are the system's to find.
  if(file MATCHES "\\.so(\\.|$)")
    set(kind LIBRARIES)
  else()
    set(kind EXECUTABLES)
  endif()
  unset(unresolved)
  file(GET_RUNTIME_DEPENDENCIES ${kind} "${file}"
       PRE_INCLUDE_REGEXES "^libravlen" PRE_EXCLUDE_REGEXES ".*"
       UNRESOLVED_DEPENDENCIES_VAR unresolved)
  if(unresolved)
    string(REPLACE ";" ", " shown "${unresolved}")
    string(APPEND failures "\n  ${file}: does not find ${shown}")
  endif()
  # The entries come as a list (";" for ":"); an empty entry stays one.
  foreach(kind IN ITEMS RUNPATH RPATH)
    string(TOLOWER "${kind}" variable)
    if("${${variable}}" STREQUAL "")
      continue()
    endif()
    foreach(entry IN LISTS ${variable})
      if(NOT entry MATCHES "^(/|\\$ORIGIN(/|$)|\\$\\{ORIGIN\\}(/|$))")
        string(REPLACE ";" ":" shown "${${variable}}")
        string(APPEND failures "\n  ${file}: ${kind} \"${shown}\"")
        break()
      endif()
    endforeach()
  endforeach()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
if(read EQUAL 0)
  message(FATAL_ERROR "no program or library found in ${BUILD}")
endif()
if(failures)
  message(FATAL_ERROR "programs and libraries that search the current folder, or miss one of ours:${failures}")
endif()
message(STATUS "${read} programs and libraries read")
