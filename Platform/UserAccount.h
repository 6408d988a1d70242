#pragma once
// The account the program runs under, from the password database, and
// whether a group holds that account alone.
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace platform {

// The account's login name ("tmarsh"). Empty when it cannot be read.
QString loginName();
// The user's full name: the first comma-separated field of the account's
// GECOS entry, trimmed ("Ada Lovelace,,," → "Ada Lovelace"). Empty when the
// account has none or cannot be read.
QString fullUserName();
// The name part of a GECOS entry, as above.
QString fullNameFromGecos(const char* gecos);

// The accounts and groups of the computer, as the rule below reads them.
struct AccountEntry {
    std::string name;
    uid_t uid = 0;
    gid_t group = 0; // its primary group
};
struct GroupEntry {
    std::string name;
    std::vector<std::string> members; // the accounts it names besides those it is the primary group of
};
struct JudgedGroups;
std::shared_ptr<JudgedGroups> noJudgedGroups();
struct AccountBook {
    std::function<std::optional<AccountEntry>(uid_t)> account;
    std::function<std::optional<GroupEntry>(gid_t)> group;
    // Every account; none when they cannot all be read.
    std::function<std::optional<std::vector<AccountEntry>>()> accounts;
    // What groupHoldsUserAlone read from this book, kept for as long as the
    // book: listing every account for each folder judged is slow where a
    // directory service holds them. A book put in place starts with none.
    std::shared_ptr<JudgedGroups> judged = noJudgedGroups();
};
// The system's (the password and group databases) until one is put in its
// place, as a test does to name accounts of its own.
AccountBook& accountBook();

// Whether the group `group` holds the user `user` alone: the user's private
// group, named as the user, naming no other account, and the primary group
// of no other account. False when the book cannot tell (asked again then).
bool groupHoldsUserAlone(gid_t group, uid_t user);

} // namespace platform
