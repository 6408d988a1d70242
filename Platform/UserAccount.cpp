#include "Platform/UserAccount.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {

QString fullNameFromGecos(const char* gecos)
{
    if (!gecos) return {};
    // The other fields (room, phones) follow after commas.
    const QString all = QString::fromLocal8Bit(gecos);
    return all.section(QLatin1Char(','), 0, 0).trimmed();
}

QString fullUserName()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buffer(size_t(size), 0);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return fullNameFromGecos(found->pw_gecos);
}

} // namespace platform
