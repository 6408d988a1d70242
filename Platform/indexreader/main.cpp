// ravlen-index-reader MEMORY: reads the PDFs the file indexer sends on its
// standard input, one after another, and answers each on its standard
// output; MEMORY is the address space it allows itself, in bytes.
#include "Platform/MetadataReader.h"

#include <cstdlib>

int main(int argc, char** argv)
{
    const std::uint64_t memory = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 0;
    // No teardown: the engine's caches go with the process.
    std::_Exit(platform::runMetadataReader(0, 1, memory));
}
