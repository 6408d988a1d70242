#include "Platform/UserAccount.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <mutex>
#include <utility>
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

namespace {

// Calls `look` with a buffer that grows while it is too small; its answer
// (0, or the error it returns).
template <class Look>
int withBuffer(Look look)
{
    std::vector<char> buffer(16384);
    for (;;) {
        const int error = look(buffer);
        if (error != ERANGE || buffer.size() >= (std::size_t(1) << 24)) return error;
        buffer.resize(buffer.size() * 4);
    }
}

AccountEntry entryOf(const passwd& account) { return {account.pw_name, account.pw_uid, account.pw_gid}; }

std::optional<AccountEntry> systemAccount(uid_t uid)
{
    std::optional<AccountEntry> found;
    withBuffer([&](std::vector<char>& buffer) {
        passwd entry{};
        passwd* result = nullptr;
        const int error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
        if (error == 0 && result) found = entryOf(*result);
        return error;
    });
    return found;
}

std::optional<GroupEntry> systemGroup(gid_t gid)
{
    std::optional<GroupEntry> found;
    withBuffer([&](std::vector<char>& buffer) {
        group entry{};
        group* result = nullptr;
        const int error = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &result);
        if (error == 0 && result) {
            found = GroupEntry{result->gr_name, {}};
            for (char** member = result->gr_mem; member && *member; ++member) found->members.emplace_back(*member);
        }
        return error;
    });
    return found;
}

std::optional<std::vector<AccountEntry>> systemAccounts()
{
    // The database is read through one cursor for the whole process.
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    std::vector<AccountEntry> accounts;
    ::setpwent();
    int error = 0;
    for (;;) {
        passwd* result = nullptr;
        error = withBuffer([&](std::vector<char>& buffer) {
            passwd entry{};
            const int found = ::getpwent_r(&entry, buffer.data(), buffer.size(), &result);
            if (found == 0 && result) accounts.push_back(entryOf(*result));
            return found;
        });
        if (error != 0 || !result) break;
    }
    ::endpwent();
    // ENOENT marks the end of the entries.
    if (error != 0 && error != ENOENT) return std::nullopt;
    return accounts;
}

} // namespace

struct JudgedGroups {
    std::mutex mutex;
    std::map<std::pair<gid_t, uid_t>, bool> alone;
};

std::shared_ptr<JudgedGroups> noJudgedGroups() { return std::make_shared<JudgedGroups>(); }

AccountBook& accountBook()
{
    static AccountBook book{systemAccount, systemGroup, systemAccounts};
    return book;
}

namespace {

// Read from the book; none when it cannot tell (a directory service may answer later).
std::optional<bool> readGroupHoldsUserAlone(const AccountBook& book, gid_t group, uid_t user)
{
    const std::optional<AccountEntry> account = book.account(user);
    const std::optional<GroupEntry> entry = book.group(group);
    if (!account || !entry) return std::nullopt;
    if (entry->name != account->name) return false;
    // Another name for the same account (the same number) is the user too.
    std::vector<std::string> ownNames{account->name};
    const std::optional<std::vector<AccountEntry>> accounts = book.accounts();
    if (!accounts) return std::nullopt;
    for (const AccountEntry& other : *accounts) {
        if (other.uid == user) ownNames.push_back(other.name);
        else if (other.group == group) return false;
    }
    return std::all_of(entry->members.begin(), entry->members.end(), [&](const std::string& member) {
        return std::find(ownNames.begin(), ownNames.end(), member) != ownNames.end();
    });
}

} // namespace

bool groupHoldsUserAlone(gid_t group, uid_t user)
{
    const AccountBook book = accountBook();
    if (!book.judged) return readGroupHoldsUserAlone(book, group, user).value_or(false);
    {
        const std::lock_guard<std::mutex> lock(book.judged->mutex);
        if (const auto known = book.judged->alone.find({group, user}); known != book.judged->alone.end())
            return known->second;
    }
    // Read unlocked: another thread may ask about another folder meanwhile.
    const std::optional<bool> alone = readGroupHoldsUserAlone(book, group, user);
    if (!alone) return false;
    const std::lock_guard<std::mutex> lock(book.judged->mutex);
    book.judged->alone.emplace(std::pair(group, user), *alone);
    return *alone;
}

} // namespace platform
