#pragma once
// Whether a helper program (the index reader) may be run. A program that
// another user can replace, or that sits in a folder another user can
// change, would run their code as this user: it runs only when it and every
// folder on its path belong to this user or to root and nobody else can
// write them. One kind of folder others write is safe above the program's
// own: a sticky one (/tmp), where nobody may rename or remove an entry they
// do not own, so the user's or root's folder in it stays where it is. The
// program's own folder never may be one: another user could put a hard link
// to some other program of this user's there.
#include <string>

namespace platform {

struct ProgramCheck {
    enum class Verdict { trusted, missing, untrusted };
    Verdict verdict = Verdict::missing;
    // Trusted: the program's own path, links resolved, which is what to run
    // (its every step is safe from others). Untrusted: the file or folder
    // that others own or can change.
    std::string path;
};

ProgramCheck checkProgram(const std::string& program);

} // namespace platform
