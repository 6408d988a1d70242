# Info.json: the build's settings (identifier, version, build number, update
# feed and crash report URLs, update public key), read by the running program
# from the top of its install folder; in a build tree from the build folder,
# which is the folder above each executable's.
function(ravlen_json_text out value)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()
function(ravlen_json_list out list)
  set(items)
  foreach(item IN LISTS list)
    ravlen_json_text(item "${item}")
    list(APPEND items "\"${item}\"")
  endforeach()
  list(JOIN items ", " joined)
  set(${out} "${joined}" PARENT_SCOPE)
endfunction()
ravlen_json_text(RAVLEN_INFO_IDENTIFIER "${RAVLEN_IDENTIFIER}")
ravlen_json_text(RAVLEN_INFO_VERSION "${PROJECT_VERSION}")
ravlen_json_text(RAVLEN_INFO_BUILD "${RAVLEN_BUILD_NUMBER}")
ravlen_json_text(RAVLEN_INFO_PUBLIC_KEY "${RAVLEN_UPDATE_PUBLIC_KEY}")
ravlen_json_list(RAVLEN_INFO_FEED_URLS "${RAVLEN_UPDATE_FEED_URLS}")
ravlen_json_list(RAVLEN_INFO_CRASH_URLS "${RAVLEN_CRASH_REPORT_URLS}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/Info.json.in ${PROJECT_BINARY_DIR}/Info.json @ONLY)
# A system prefix (/usr, /usr/local) is shared with other packages: there the
# file goes to the program's own data folder instead of the prefix's top.
# Decided when installing, as `cmake --install --prefix` may name another folder
# than the one the build was configured with.
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr(/local)?/?$\")
    set(ravlen_info_folder \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/ravlen\")
  else()
    set(ravlen_info_folder \"\${CMAKE_INSTALL_PREFIX}\")
  endif()
  file(INSTALL \"${PROJECT_BINARY_DIR}/Info.json\" DESTINATION \"\${ravlen_info_folder}\")
")

# The desktop entry that names ravlen as a PDF application (the default-app claim uses it).
# Its program stands bare: xdg-mime takes Exec's first word as the program and
# passes over an entry whose program it cannot find. Quoted when the path holds
# anything but letters, digits and "/._+-".
set(RAVLEN_INSTALLED_EXECUTABLE "${CMAKE_INSTALL_FULL_BINDIR}/ravlen")
if(RAVLEN_INSTALLED_EXECUTABLE MATCHES "[^A-Za-z0-9/._+-]")
  set(RAVLEN_INSTALLED_EXECUTABLE "\"${RAVLEN_INSTALLED_EXECUTABLE}\"")
endif()
configure_file(${PROJECT_SOURCE_DIR}/data/ravlen.desktop.in ${PROJECT_BINARY_DIR}/ravlen.desktop @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/ravlen.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
