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

namespace {

// One field of the account's entry in the password database.
template <class Field>
QString accountField(Field field)
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buffer(size_t(size), 0);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return field(*found);
}

} // namespace

QString loginName()
{
    return accountField([](const passwd& account) { return QString::fromLocal8Bit(account.pw_name); });
}

QString fullUserName()
{
    return accountField([](const passwd& account) { return fullNameFromGecos(account.pw_gecos); });
}

} // namespace platform
