#pragma once
// Whether a helper program (the index reader) may be run, and running it. A
// program that another user can replace, or that sits in a folder another
// user can change, would run their code as this user: it runs only when it
// and every folder on its path belong to this user or to root and nobody
// else can write them. One kind of folder others write is safe above the
// program's own: a sticky one (/tmp), where nobody may rename or remove an
// entry they do not own, so the user's or root's folder in it stays where it
// is. The program's own folder never may be one: another user could put a
// hard link to some other program of this user's there.
//
// The check walks the path once (PathWalk.h): each folder is judged as the
// walk meets it, the folders that hold a link included, another user's link
// is not followed, and a path of any length is judged. The program that runs
// is started from the walk's own opening of it, so a name changed after the
// check changes nothing. A check that cannot decide (a folder it may not
// search, links that go round) refuses.
#include "Platform/FileDescriptor.h"

#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

struct ProgramCheck {
    enum class Verdict {
        trusted,   // runs
        missing,   // nothing there (or a name on the way is no folder): nothing runs
        untrusted, // another user owns or can change the program or a folder on its way
        undecided, // the check could not tell: treated as untrusted
    };
    Verdict verdict = Verdict::missing;
    // Trusted: the program's own path, links resolved. Untrusted: the file
    // or folder that others own or can change. Undecided: where it stopped.
    std::string path;
    // Trusted: the program, opened without following a last link (O_PATH).
    FileDescriptor program;
};

ProgramCheck checkProgram(const std::string& program);

// The same check of a folder that holds a program whole (an install folder
// that replaces itself): the folder and the one it is in keep others out,
// not even sticky (in a sticky folder another user could take its name while
// it is moved), and every folder above as for a program. Trusted: `program`
// is the folder, opened as the walk found it.
ProgramCheck checkProgramFolder(const std::string& folder);

// Whether a user other than this one (root aside) may write the file or
// folder `st` describes, held at `fd` (-1: not held): one others may write,
// or one its group may write, unless that group holds the user alone
// (platform::groupHoldsUserAlone, as a login with umask 002 makes the
// user's folders) and no access list names anyone. Whatever cannot be told
// counts as written by others.
bool othersMayWrite(const struct stat& st, int fd);

// The folder rule of both checks and of every folder ravlen keeps its own
// files in: a folder of the user's or root's that no other user may write
// (othersMayWrite; `fd` holds it), or, where `stickyIsEnough`, one that is
// sticky, in which nobody may rename or remove what is not theirs.
bool keepsOthersOut(const struct stat& folder, int fd, bool stickyIsEnough);

// Starts the program a trusted check opened, through that opening, with
// `arguments` (the first is the name it is told it has), `io` as its
// standard input and output, its standard error on /dev/null and no other
// descriptor of ours. Its process id, or -1 with errno set.
pid_t startCheckedProgram(const ProgramCheck& check, const std::vector<std::string>& arguments, int io);

} // namespace platform
