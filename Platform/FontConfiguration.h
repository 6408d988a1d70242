#pragma once
// The desktop's font configuration (fontconfig): its files and font caches
// are read the first time any text is measured, which at start is the first
// window's. Reading them on a worker as soon as the program starts lets that
// window find them ready.
//
// fontconfig reads the user's settings and fonts, and writes its cache, by
// the home folder's name (~/.fonts.conf, ~/.fonts, ~/.fontconfig) and by the
// base folders'. The base folders are judged at start
// (PrivateFiles::replaceForeignBaseFolders); a home folder another user can
// change is not read at all: then fontconfig reads the system's settings
// and fonts alone and keeps no cache of the user's.
#include <optional>
#include <string>

namespace platform::FontConfiguration {

// Keeps fontconfig out of a home folder ($HOME) another user can change, as
// platform::baseFolderProblem judges it. Before fontconfig is first used;
// the problem when the home folder is passed over, none when it is read.
std::optional<std::string> keepToJudgedFolders();

// keepToJudgedFolders(), then starts reading the configuration on a thread
// of its own; harmless when it has been read already, or is being read by
// the interface at the same time.
void loadInBackground();

} // namespace platform::FontConfiguration
