// A program that installs the crash writer and then crashes as its first
// argument says: "null" reads through a null pointer, "throw" lets an
// exception escape main. Further arguments are ignored. The crash tests run
// it as a child process.
#include "Platform/CrashHandler.h"

#include <cstring>
#include <stdexcept>

namespace {

// Volatile, so that the compiler cannot see the null and put a trap in place of the read.
int* volatile nowhere = nullptr;

// Left alone by the sanitizers, so that the read reaches the crash writer as a fault.
__attribute__((noinline, no_sanitize("address", "undefined"))) int readThroughNull() { return *nowhere; }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    if (!platform::CrashHandler::install({"ravlen-crash-child", "1.2.3", "45", "com.ombri.ravlen.crashtest"})) return 3;
    if (std::strcmp(argv[1], "null") == 0) return readThroughNull();
    if (std::strcmp(argv[1], "throw") == 0) throw std::runtime_error("escaped");
    return 2;
}
