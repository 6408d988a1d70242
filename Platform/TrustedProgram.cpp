#include "Platform/TrustedProgram.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

bool ownedByUserOrRoot(const struct stat& st) { return st.st_uid == ::geteuid() || st.st_uid == 0; }

// Write permission for the group covers any other user an access list names.
bool othersMayWrite(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

} // namespace

ProgramCheck checkProgram(const std::string& program)
{
    ProgramCheck check;
    char resolved[PATH_MAX];
    if (program.empty() || !::realpath(program.c_str(), resolved)) return check;
    const std::string path = resolved;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return check;
    check.verdict = ProgramCheck::Verdict::untrusted;
    check.path = path;
    if (!S_ISREG(st.st_mode) || !ownedByUserOrRoot(st) || othersMayWrite(st)) return check;
    // Then each folder from the program's own up to the root.
    bool own = true;
    for (std::size_t slash = path.rfind('/'); slash != std::string::npos;
         slash = slash == 0 ? std::string::npos : path.rfind('/', slash - 1)) {
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !ownedByUserOrRoot(st)) {
            check.path = folder;
            return check;
        }
        if (othersMayWrite(st) && (own || !(st.st_mode & S_ISVTX))) {
            check.path = folder;
            return check;
        }
        own = false;
    }
    check.verdict = ProgramCheck::Verdict::trusted;
    return check;
}

} // namespace platform
