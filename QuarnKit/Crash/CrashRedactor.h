#pragma once
// Strips what could identify the user from a crash report before any of it
// leaves the computer: the home folder in all its spellings (to "~"), the
// user's short and full names (to "user"), the per-user runtime and temporary
// folders, eight identifier keys, and every path outside the system folders
// (to "<path>"; a library or bundle stays, but inside another person's
// folder only the part from its name on).
// Immutable once built; copies share the compiled patterns; any thread.
#include <nlohmann/json.hpp>

#include <QRegularExpression>
#include <QString>

#include <set>
#include <string>
#include <vector>

namespace quarnkit {

class CrashRedactor {
public:
    CrashRedactor(const QString& home, const QString& userName, const QString& fullName);
    // The running user's: the home folder, the login name and the full name
    // of the password database.
    static CrashRedactor forCurrentUser();

    // The value with every text scrubbed and the members under droppedKeys()
    // left out, at any depth; object keys stay as they are.
    nlohmann::json redact(const nlohmann::json& value) const;
    // Home roots, names, temporary folders, then path tokens.
    QString scrub(const QString& text) const;
    // The path-token pass alone.
    static QString scrubPaths(const QString& text);
    static const std::set<std::string>& droppedKeys();

private:
    struct Pattern {
        QString text;
        QRegularExpression expression;
    };
    std::vector<Pattern> homeRoots_; // longest first
    std::vector<Pattern> names_;     // longest first
};

} // namespace quarnkit
