#include "Quarn/App/LaunchTimes.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace quarn::launchTimes {

void mark(const char* stage)
{
    static const char* const file = std::getenv("RAVLEN_LAUNCH_TIMES");
    if (!file || !*file) return;
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    static std::mutex lock;
    static std::set<std::string> marked;
    std::lock_guard hold(lock);
    if (!marked.insert(stage).second) return;
    char line[128];
    const int n = std::snprintf(line, sizeof line, "%s %lld\n", stage,
                                static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line, size_t(n));
    ::close(fd);
}

} // namespace quarn::launchTimes
