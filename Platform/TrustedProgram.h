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
// The check opens each folder on the way and then the program itself, one
// name at a time, following links as the kernel does but never through a
// path string of its own making (so a path of any length is judged), and
// judges what it opened: the program that runs is started from that opening,
// so a name changed after the check changes nothing. A check that cannot
// decide (a folder it may not search, links that go round) refuses.
#include "Platform/FileDescriptor.h"

#include <string>
#include <vector>

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

// Starts the program a trusted check opened, through that opening, with
// `arguments` (the first is the name it is told it has), `io` as its
// standard input and output, its standard error on /dev/null and no other
// descriptor of ours. Its process id, or -1 with errno set.
pid_t startCheckedProgram(const ProgramCheck& check, const std::vector<std::string>& arguments, int io);

} // namespace platform
