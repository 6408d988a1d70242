#include "Platform/FontConfiguration.h"

#include <fontconfig/fontconfig.h>

#include <thread>

namespace platform::FontConfiguration {

void loadInBackground()
{
    // fontconfig keeps one current configuration for the process and installs
    // it atomically: whichever thread finishes first, the other uses it.
    std::thread([] { FcInit(); }).detach();
}

} // namespace platform::FontConfiguration
