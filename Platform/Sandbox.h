#pragma once
// Confining a process that parses untrusted files (the file index's
// reader), so that a memory fault in the parser gains an attacker nothing
// beyond the process itself: no new privileges; a system-call filter
// (seccomp) that allows reading and answering on the descriptors the
// process already holds, managing its memory and ending, and kills it at
// any other call (no new sockets or connections, no running programs, no
// opening of files for writing, no executable memory); and, where the
// kernel offers Landlock, no opening of any file by path at all: the
// process is handed each file it reads as an open descriptor.
#include <string>

namespace platform {

struct Confinement {
    bool confined = false;   // no new privileges and the filter are in place
    bool landlocked = false; // and no file can be opened by path
    std::string failure;     // why not, when not confined
};

// Confines the calling process for good, with every thread it has or
// makes. When this fails (`confined` false), the process must read
// nothing.
Confinement confineProcess();

} // namespace platform
