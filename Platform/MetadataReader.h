#pragma once
// Reading PDFs for the file index, each in a process apart from the indexer.
// MuPDF cannot be interrupted while it parses a file, and a hostile file can
// make it spin, eat memory or crash: the reader program (ravlen-index-reader)
// reads one file after another under a memory limit at idle priority,
// confined (Sandbox.h), and the indexer kills it when a file takes too long.
// The indexer opens each file and hands the reader its descriptor, so the
// reader needs no access to any file by path. Whatever happens to a reader
// costs only the file it was reading.
#include "Platform/Metadata.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// What a reader found in one file.
struct MetadataReading {
    MetadataReadState state = MetadataReadState::failed;
    std::optional<std::string> title;
    std::optional<int> pageCount;
    std::string text; // UTF-8, composed (NFC), at most MetadataIndex::maxTextBytes and a little
};

// Lowers the calling thread's CPU priority (to the idle scheduling class,
// else to nice 19) and its disk priority to the idle class.
void lowerPriority(bool idleClass);

// The reader program's whole work: limits itself (address space
// `memoryLimit` bytes, 0 for none; no core files; idle CPU and disk
// priority; killed with its parent) and confines itself, says so with one
// byte "R" on `out` (or "U" when it cannot be confined: it then reads
// nothing and returns 3), then answers every file whose descriptor arrives
// on `in` with a reading on `out`, until `in` ends.
int runMetadataReader(int in, int out, std::uint64_t memoryLimit);
// The reader's side of the wire: the next file's descriptor, -1 once `in`
// ends; and the answer for it.
int receiveFile(int in);
bool sendReading(int out, const MetadataReading& reading);

// Reads the file open at `fd` (and closes it), spending at most `budget` on
// its pages' text (the text read by then is kept).
MetadataReading readForIndex(int fd, std::chrono::milliseconds budget);

// The indexer's end of one reader process.
class MetadataReaderProcess {
public:
    // A reader is restarted after this many files, so that what MuPDF's
    // caches and a long run's fragments hold goes back to the system.
    static constexpr int filesPerProcess = 400;

    MetadataReaderProcess(std::string program, std::uint64_t memoryLimit);
    ~MetadataReaderProcess(); // kills the process
    MetadataReaderProcess(const MetadataReaderProcess&) = delete;
    MetadataReaderProcess& operator=(const MetadataReaderProcess&) = delete;

    // Sends the file open at `fd` to read (the descriptor stays the
    // caller's), starting the process when needed; false when it cannot be
    // started.
    bool begin(int fd);
    bool busy() const { return busy_; }
    // The last process started said it cannot be confined on this system.
    bool refused() const { return refused_; }
    // The program was not started: another user owns or can change it or a
    // folder on its path (TrustedProgram.h).
    bool untrusted() const { return untrusted_; }
    // The running process, -1 for none.
    pid_t pid() const { return pid_; }
    // The descriptor to poll for input while busy.
    int descriptor() const { return socket_; }
    // Reads what has arrived: the reading once it is whole. A process that
    // ended before answering gives a failed reading: the file broke it. One
    // that ended before it was ready to read gives an unread one.
    std::optional<MetadataReading> receive();
    // Gives up on the file in progress (too slow): the process is killed.
    // The reading to keep: failed, or unread when the process never got ready.
    MetadataReading abandon();

private:
    void start();
    void end(bool kill);

    std::string program_;
    std::uint64_t memoryLimit_;
    pid_t pid_ = -1;
    int socket_ = -1;
    bool busy_ = false;
    bool ready_ = false; // the process said it runs, limits in place
    bool refused_ = false;
    bool untrusted_ = false;
    int served_ = 0;
    std::string buffer_;
};

} // namespace platform
