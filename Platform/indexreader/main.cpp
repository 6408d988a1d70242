// ravlen-index-reader MEMORY [normal]: reads the PDFs the file indexer
// sends on its standard input (or draws their first pages), one after
// another, and answers each on its standard output; MEMORY is the address
// space it allows itself, in bytes. It runs at idle priority unless told
// "normal" (a drawing someone waits for).
#include "Platform/MetadataReader.h"

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const std::uint64_t memory = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 0;
    // No teardown: the engine's caches go with the process.
    const bool idle = !(argc > 2 && std::strcmp(argv[2], "normal") == 0);
    std::_Exit(platform::runMetadataReader(0, 1, memory, idle));
}
