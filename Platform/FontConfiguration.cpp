#include "Platform/FontConfiguration.h"

#include "Platform/OwnFolders.h"

#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

namespace platform::FontConfiguration {

std::optional<std::string> keepToJudgedFolders()
{
    const char* home = std::getenv("HOME");
    // With none, fontconfig reads nothing by it.
    if (!home || !*home) return std::nullopt;
    std::optional<std::string> problem =
        home[0] == '/' ? baseFolderProblem(home, false) : std::optional<std::string>("the home folder is relative");
    // Nothing named from the home folder then, the base folders included:
    // the system's settings and fonts alone.
    if (problem) FcConfigEnableHome(FcFalse);
    return problem;
}

void loadInBackground()
{
    if (const auto problem = keepToJudgedFolders())
        std::fprintf(stderr, "ravlen: fonts: not reading the home folder's font settings: %s\n", problem->c_str());
    // fontconfig keeps one current configuration for the process and installs
    // it atomically: whichever thread finishes first, the other uses it.
    std::thread([] { FcInit(); }).detach();
}

} // namespace platform::FontConfiguration
