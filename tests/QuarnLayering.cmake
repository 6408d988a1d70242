# The application reaches the PDF only through QuarnKit: no file under Quarn/
# includes a Platform/Pdf* header (plain geometry aside) or names a class or
# function of the PDF layer, and none reaches behind a QuarnDocument for the
# engine's document (QuarnKit/Document/DocumentEngine.h, which the compiler
# also refuses to the application). Run with -DSOURCE=<project folder>.
cmake_minimum_required(VERSION 3.25)
file(GLOB_RECURSE files RELATIVE "${SOURCE}" "${SOURCE}/Quarn/*.cpp" "${SOURCE}/Quarn/*.h")
# Plain geometry values, and the platform services that are not the PDF layer.
set(allowed PdfPoint PdfRect PdfSize PdfQuad PdfGeometry PdfDisplayMode
    platform::PdfPoint platform::PdfRect platform::PdfSize platform::PdfQuad
    platform::UserDefaults platform::fullUserName platform::PrivateFiles platform::FontConfiguration
    platform::CrashHandler platform::CrashIdentity)
set(failures "")
foreach(file IN LISTS files)
  file(READ "${SOURCE}/${file}" text)
  string(REGEX MATCHALL "#include \"Platform/Pdf[A-Za-z]*\\.h\"" includes "${text}")
  list(REMOVE_ITEM includes "#include \"Platform/PdfGeometry.h\"")
  # Whole names only: the page view's own `setPdfView` names no class.
  string(REGEX MATCHALL "(^|[^A-Za-z0-9_])(platform::[A-Za-z_]+|Pdf[A-Z][A-Za-z]*)" names "${text}")
  list(TRANSFORM names REPLACE "^[^A-Za-z]" "")
  list(REMOVE_ITEM names ${allowed})
  list(REMOVE_DUPLICATES names)
  string(REGEX MATCHALL "DocumentEngine|pdfOf|QUARNKIT_INTERNAL|[.>]pdf\\(\\)" engine "${text}")
  list(APPEND names ${engine})
  if(includes OR names)
    string(APPEND failures "\n  ${file}: ${includes} ${names}")
  endif()
endforeach()
file(READ "${SOURCE}/Quarn/CMakeLists.txt" lists)
if(lists MATCHES "QUARNKIT_INTERNAL")
  string(APPEND failures "\n  Quarn/CMakeLists.txt: QUARNKIT_INTERNAL")
endif()
if(failures)
  message(FATAL_ERROR "Quarn/ reaches the PDF layer:${failures}")
endif()
