// A reader program for the tests of the reader's sandbox, run by the
// indexer under a name that says what it does. Confined as the real reader
// is, "socket", "connect", "execve" and "write" make that call with the
// first file they are given, and "mmap-exec", "mprotect-exec" and
// "pkey_mprotect" ask for executable memory: killed for it, they leave the
// file listed as one that broke its reader; still alive, they answer that
// the file read with the text "escaped". "unconfinable" runs the real reader where
// installing a system-call filter fails, as on a kernel without seccomp.
#include "Platform/MetadataReader.h"
#include "Platform/Sandbox.h"

#include <seccomp.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv)
{
    const std::string path = argv[0];
    const std::string name = path.substr(path.rfind('/') + 1);
    if (name == "unconfinable") {
        scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(seccomp), 0);
        seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EINVAL), SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_SECCOMP));
        if (seccomp_load(ctx) != 0) return 4;
        char* args[] = {const_cast<char*>(RAVLEN_INDEX_READER), argc > 1 ? argv[1] : nullptr, nullptr};
        ::execve(RAVLEN_INDEX_READER, args, environ);
        return 5;
    }
    if (!platform::confineProcess().confined) return 3;
    if (::write(1, "R", 1) != 1) return 0;
    if (platform::receiveRequest(0).fd < 0) return 0;
    if (name == "socket") {
        ::socket(AF_INET, SOCK_STREAM, 0);
    } else if (name == "connect") {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "/run/dbus/system_bus_socket");
        ::connect(0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else if (name == "execve") {
        char* args[] = {const_cast<char*>("/bin/true"), nullptr};
        ::execve("/bin/true", args, environ);
    } else if (name == "write") {
        ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    } else if (name == "mmap-exec") {
        ::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    } else if (name == "mprotect-exec" || name == "pkey_mprotect") {
        void* page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (name == "mprotect-exec") ::mprotect(page, 4096, PROT_READ | PROT_EXEC);
        else ::syscall(SYS_pkey_mprotect, page, 4096, PROT_READ | PROT_EXEC, -1);
    }
    platform::MetadataReading escaped;
    escaped.state = platform::MetadataReadState::read;
    escaped.text = "escaped";
    platform::sendReading(1, escaped);
    return 0;
}
