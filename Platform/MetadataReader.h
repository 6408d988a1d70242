#pragma once
// Reading PDFs for the file index, each in a process apart from the indexer,
// and drawing the first pages of files the user has not opened (thumbnails
// beside search results), apart from the program. MuPDF cannot be
// interrupted while it parses a file, and a hostile file can make it spin,
// eat memory or crash: the reader program (ravlen-index-reader) reads one
// file after another under a memory limit, confined (Sandbox.h), and is
// killed when a file takes too long. The caller opens each file and hands
// the reader its descriptor, so the reader needs no access to any file by
// path. Whatever happens to a reader costs only the file it was reading.
#include "Platform/Metadata.h"
#include "Platform/TrustedProgram.h"

#include <QImage>

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

// A first page as a reader drew it, fitting the size asked for.
struct PageDrawing {
    enum class State : std::uint8_t {
        drawn = 0,      // `image` holds it, on white
        locked = 1,     // the file needs a password
        unreadable = 2, // not a PDF, no first page, a page without area, a failed drawing
        failed = 3,     // the reader crashed, ran out of time or memory on it, or could not run
    };
    State state = State::failed;
    QImage image; // RGB, with State::drawn
};
// The largest side a drawing may be asked for: its pixels cross the wire.
constexpr int maxDrawingSide = 1024;

// Lowers the calling thread's CPU priority (to the idle scheduling class,
// else to nice 19) and its disk priority to the idle class.
void lowerPriority(bool idleClass);

// The reader program's whole work: limits itself (address space
// `memoryLimit` bytes, 0 for none; no core files; idle CPU and disk priority
// when `idle`; killed with its parent) and confines itself, says so with one
// byte "R" on `out` (or "U" when it cannot be confined: it then reads
// nothing and returns 3), then answers every request that arrives on `in`
// (a file to read, or a first page to draw) on `out`, until `in` ends.
int runMetadataReader(int in, int out, std::uint64_t memoryLimit, bool idle = true);
// The reader's side of the wire: the next request (its file's descriptor -1
// once `in` ends), and the answers.
struct ReaderRequest {
    int fd = -1;
    bool draw = false;         // else read for the index
    int width = 0, height = 0; // the size a drawing fits, in pixels
};
ReaderRequest receiveRequest(int in);
bool sendReading(int out, const MetadataReading& reading);
bool sendDrawing(int out, const PageDrawing& drawing);

// Reads the file open at `fd` (and closes it), spending at most `budget` on
// its pages' text (the text read by then is kept).
MetadataReading readForIndex(int fd, std::chrono::milliseconds budget);
// Draws the first page of the file open at `fd` (and closes it) as the
// exporter draws it, in its display box, scaled to fit `width` by `height`
// pixels with its aspect kept; a page whose drawing fails part way shows
// what was drawn before. Sides up to maxDrawingSide.
PageDrawing drawFirstPage(int fd, int width, int height);

// The caller's end of one reader process: the indexer's, or a drawing's.
class MetadataReaderProcess {
public:
    // A reader is restarted after this many files, so that what MuPDF's
    // caches and a long run's fragments hold goes back to the system.
    static constexpr int filesPerProcess = 400;

    // `idle`: the process runs at idle CPU and disk priority (the index);
    // otherwise at the caller's (a drawing someone waits for).
    MetadataReaderProcess(std::string program, std::uint64_t memoryLimit, bool idle = true);
    ~MetadataReaderProcess(); // kills the process
    MetadataReaderProcess(const MetadataReaderProcess&) = delete;
    MetadataReaderProcess& operator=(const MetadataReaderProcess&) = delete;

    // Sends the file open at `fd` to read (the descriptor stays the
    // caller's), starting the process when needed; false when it cannot be
    // started.
    bool begin(int fd);
    // The same for a drawing of the file's first page (receiveDrawing()).
    bool beginDrawing(int fd, int width, int height);
    bool busy() const { return busy_; }
    // The last process started said it cannot be confined on this system.
    bool refused() const { return refused_; }
    // What the last check of the program found (TrustedProgram.h): it was
    // not started unless trusted.
    ProgramCheck::Verdict programVerdict() const { return verdict_; }
    // The running process, -1 for none.
    pid_t pid() const { return pid_; }
    // The descriptor to poll for input while busy.
    int descriptor() const { return socket_; }
    // Reads what has arrived: the reading once it is whole. A process that
    // ended before answering gives a failed reading: the file broke it. One
    // that ended before it was ready to read gives an unread one.
    std::optional<MetadataReading> receive();
    // The same for a drawing: one that never comes whole is failed.
    std::optional<PageDrawing> receiveDrawing();
    // Gives up on the file in progress (too slow): the process is killed.
    // The reading to keep: failed, or unread when the process never got ready.
    MetadataReading abandon();

private:
    enum class Arrival { waiting, whole, broken };
    void start();
    void end(bool kill);
    bool send(int fd, const std::string& request);
    // Takes in what has arrived; with `whole`, payload_ holds the answer.
    Arrival collect();

    std::string program_;
    std::uint64_t memoryLimit_;
    bool idle_;
    pid_t pid_ = -1;
    int socket_ = -1;
    bool busy_ = false;
    bool ready_ = false; // the process said it runs, limits in place
    bool refused_ = false;
    ProgramCheck::Verdict verdict_ = ProgramCheck::Verdict::missing;
    int served_ = 0;
    std::string buffer_;
    std::string payload_;
    int drawingWidth_ = 0, drawingHeight_ = 0; // what the drawing in progress fits
};

} // namespace platform
