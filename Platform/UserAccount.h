#pragma once
// The account the program runs under, from the password database.
#include <QString>

namespace platform {

// The account's login name ("tmarsh"). Empty when it cannot be read.
QString loginName();
// The user's full name: the first comma-separated field of the account's
// GECOS entry, trimmed ("Ada Lovelace,,," → "Ada Lovelace"). Empty when the
// account has none or cannot be read.
QString fullUserName();
// The name part of a GECOS entry, as above.
QString fullNameFromGecos(const char* gecos);

} // namespace platform
