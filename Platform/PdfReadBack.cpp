#include "Platform/PdfReadBack.h"

#include "Platform/OnDemand.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

PdfError unfaithful(const std::string& why)
{
    return PdfError(PdfErrorCode::unfaithfulCopy, "the written file does not read back as written: " + why);
}

PdfError unverified(const std::string& why, int systemError = 0)
{
    return PdfError(PdfErrorCode::unverifiedCopy, "the written file could not be read back: " + why, systemError);
}

std::string objectName(int num) { return "object " + std::to_string(num); }

// How often a read that the machine starved (of memory, of threads) is tried
// again before the check is undecided, and the pause before each: none
// before the first, which reads alone, beside no other reader.
constexpr int retries = 3;
void waitForTheMachine(int again)
{
    if (again > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250) * again * again);
}

// Whether decoded stream `object` stores the very bytes the engine holds
// stored for it, stored so: what the engine decodes otherwise than the
// second reader (a predictor's last row cut short, which one pads and the
// other keeps short) then reads alike in every reader, the engine's too.
bool storedAlike(const ReadBackObject& object, const PdfWriteIntent& meant)
{
    if (!object.decoded || !meant.storage || !meant.data) return false;
    const std::optional<objectdigest::Digest> storage = meant.storage(object.num);
    if (!storage || *storage != object.storage) return false;
    const std::optional<objectdigest::Digest> stored = meant.data(object.num, false, 0);
    return stored && *stored == object.stored;
}

// Whether undecoded stream `object` stores the engine's data with the hex
// filter the engine's writer takes off, stored so (PdfWriteIntent::unhexed).
bool hexTakenOff(const ReadBackObject& object, const PdfWriteIntent& meant)
{
    if (object.decoded || !meant.unhexed) return false;
    const std::optional<PdfWriteIntent::Unhexed> unhexed = meant.unhexed(object.num);
    return unhexed && unhexed->storage == object.storage && unhexed->data == object.content;
}

// Whether undecodable stream `object` stores the very bytes the engine holds
// stored for it, stored so, which the engine cannot decode either: the
// document's damage, carried over unchanged by the write.
bool carriesHeldDamage(const ReadBackObject& object, const PdfWriteIntent& meant)
{
    if (!object.undecodable || !meant.storage || !meant.data || !meant.decodes) return false;
    const std::optional<objectdigest::Digest> storage = meant.storage(object.num);
    if (!storage || *storage != object.storage) return false;
    const std::optional<objectdigest::Digest> stored = meant.data(object.num, false, 0);
    return stored && *stored == object.stored && !meant.decodes(object.num);
}

// The reader, loaded once (loadReadBack); none when it cannot be.
std::atomic<const QpdfReadBack*> loadedReader{nullptr};
std::atomic<bool> loadRefused{false};

const QpdfReadBack* reader()
{
    if (const QpdfReadBack* loaded = loadedReader.load()) return loaded;
    if (loadRefused.load()) return nullptr;
    const auto* loaded = ondemand::tableOf<QpdfReadBack>("libravlen-qpdf.so", "ravlenQpdfReadBack");
    loadedReader.store(loaded);
    return loaded;
}

} // namespace

bool loadReadBack()
{
    try {
        if (reader()) return true;
    } catch (const std::exception&) {}
    loadRefused.store(true);
    return false;
}

MappedFile::MappedFile(int fd)
{
    struct stat info = {};
    if (::fstat(fd, &info) != 0) throw unverified(std::strerror(errno));
    size_ = std::size_t(info.st_size);
    if (size_ == 0) return;
    void* at = MAP_FAILED;
    for (int again = 0; at == MAP_FAILED; ++again) {
        at = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
        // Memory the machine is short of may come free.
        if (at == MAP_FAILED && ((errno != ENOMEM && errno != EAGAIN) || again == retries))
            throw unverified(std::strerror(errno));
        if (at == MAP_FAILED) waitForTheMachine(again + 1);
    }
    data_ = static_cast<const char*>(at);
}

MappedFile::~MappedFile()
{
    if (data_) ::munmap(const_cast<char*>(data_), size_);
}

void readBack(ReadBackBytes written, const PdfWriteIntent& meant)
{
    const QpdfReadBack* qpdf = reader();
    if (!qpdf) throw unverified("the reader that checks it cannot be loaded");
    ReadBackRequest request;
    request.copy = written;
    request.original = meant.original;
    request.password = meant.password;
    request.needsPassword = meant.needsPassword;
    request.appended = meant.appended;
    request.keepsNumbers = meant.keepsNumbers;
    request.copiedData = meant.copiedData;
    request.mustRead.insert(meant.changed.begin(), meant.changed.end());
    request.findStrayPages = bool(meant.pageOutsideTreeAllowed);
    // An update is written after the original's very bytes.
    if (meant.appended && meant.original.data
        && (written.size < meant.original.size
            || std::memcmp(written.data, meant.original.data, meant.original.size) != 0))
        throw unfaithful("the update does not follow the file's own bytes");
    ReadBackReport report = qpdf->read(request);
    // A reader that failed otherwise than over the file (memory or a thread
    // the busy machine refused it) reads it again, on this thread alone, and
    // then after pauses for the machine to let go of what it holds.
    for (int again = 0; report.undecided && again < retries; ++again) {
        waitForTheMachine(again);
        request.alone = true;
        report = qpdf->read(request);
    }

    if (report.undecided) throw unverified(report.failure, report.outOfMemory ? ENOMEM : 0);
    if (report.wrongPassword || report.opensWithoutPassword)
        throw PdfError(PdfErrorCode::unopenableCopy, report.failure);
    if (!report.failure.empty()) throw unfaithful("it does not open: " + report.failure);
    if (report.encrypted != meant.encrypted)
        throw PdfError(PdfErrorCode::unopenableCopy,
                       meant.encrypted ? "the written file is not encrypted" : "the written file is encrypted");

    // What reads otherwise than the engine held it; what does not read at all
    // is held against the copy only when the original reads it.
    std::vector<const ReadBackObject*> failing;
    for (const ReadBackObject& object : report.objects) {
        if (object.sameAsOriginal || object.writersOwn || meant.unjudged.count(object.num)) continue;
        if (object.unparsed || object.undecodable) {
            failing.push_back(&object);
            continue;
        }
        bool undecidable = false;
        const std::optional<objectdigest::Digest> held = meant.object(object.num, &undecidable);
        if (undecidable)
            throw PdfError(PdfErrorCode::namesTooLong,
                           objectName(object.num) + " uses a name as long as the engine keeps, which it may have cut");
        if (!held) throw unfaithful(objectName(object.num) + " is none the document holds");
        if (*held != object.digest) throw unfaithful(objectName(object.num) + " reads otherwise than it was written");
        if (object.hasContent && meant.data) {
            const std::optional<objectdigest::Digest> data = meant.data(object.num, object.decoded, object.rowBits);
            if (data && *data != object.content && !storedAlike(object, meant) && !hexTakenOff(object, meant))
                throw unfaithful(objectName(object.num) + "'s data reads otherwise than it was written");
        }
    }
    // What the change made or changed is in the copy, wherever the writer meant it to be.
    if (!meant.changed.empty()) {
        std::unordered_set<int> copied;
        for (const ReadBackObject& object : report.objects) copied.insert(object.num);
        for (const int num : meant.changed) {
            if (copied.count(num) || meant.unjudged.count(num)) continue;
            bool undecidable = false;
            if (meant.object(num, &undecidable) && (!meant.written || meant.written(num)))
                throw unfaithful(objectName(num) + ", which the change wrote, is not in the file");
        }
    }
    if (meant.trailer) {
        const auto differs = [&](objectdigest::Digest written, objectdigest::Digest read, const char* what) {
            if (written != read) throw unfaithful(std::string("its trailer does not name the ") + what + " written");
        };
        differs(meant.trailer->root, report.root, "catalog");
        differs(meant.trailer->info, report.info, "document information");
        differs(meant.trailer->id, report.id, "identifier");
    }
    for (const auto& [num, gen] : report.dangling)
        if (meant.holds(num, gen)) throw unfaithful(objectName(num) + " is referred to but missing");

    const bool pagesNeedRepair = report.pages < 0 || !report.pageFailure.empty();
    if (!failing.empty() || pagesNeedRepair) {
        // The original's own damage is no fault of the copy. A reader that
        // failed otherwise than over that file (memory, a thread) decides
        // nothing of it: it reads once more, then the check is undecided.
        const auto failuresOf = [&](ReadBackBytes file, const std::string& password) {
            OriginalFailures failures = qpdf->failuresOf(file, password);
            for (int again = 0; failures.undecided && again < retries; ++again) {
                waitForTheMachine(again);
                failures = qpdf->failuresOf(file, password);
            }
            if (failures.undecided)
                throw unverified("the file it was written from could not be read to judge it",
                                 failures.outOfMemory ? ENOMEM : 0);
            return failures;
        };
        const OriginalFailures original =
            meant.original.data ? failuresOf(meant.original, meant.originalPassword) : OriginalFailures{};
        std::vector<OriginalFailures> ancestors;
        const auto inAncestors = [&](const ReadBackObject& object) {
            if (!object.undecodable) return false;
            if (ancestors.empty())
                for (const ReadBackBytes& bytes : meant.ancestors) ancestors.push_back(failuresOf(bytes, {}));
            return std::any_of(ancestors.begin(), ancestors.end(),
                               [&](const OriginalFailures& a) { return a.streams.count(object.data) > 0; });
        };
        for (const ReadBackObject* object : failing) {
            // Whatever reads the original: damage the engine holds as it is,
            // but for a stream the original, read, decodes.
            const bool decodedThere = original.read && (!meant.keepsNumbers || original.decoded.count(object->num));
            const bool excused = (original.read
                                  && ((meant.keepsNumbers && original.objects.count(object->num))
                                      || (object->undecodable && original.streams.count(object->data))))
                                 || inAncestors(*object) || (!decodedThere && carriesHeldDamage(*object, meant));
            if (!excused)
                throw unfaithful(objectName(object->num)
                                 + (object->unparsed ? " cannot be read without repair" : "'s data does not decode"));
        }
        if (pagesNeedRepair && !(original.read && original.pagesNeedRepair))
            throw unfaithful("its pages cannot be read without repair: " + report.pageFailure);
        if (pagesNeedRepair) return; // read otherwise by each reader, as the original is
    }
    if (report.pages != meant.pageCount)
        throw unfaithful("it has " + std::to_string(report.pages) + " pages instead of "
                         + std::to_string(meant.pageCount));
    // A page taken out, or one made since, that something still leads to.
    for (const int num : report.strayPages)
        if (!meant.pageOutsideTreeAllowed(num))
            throw unfaithful(objectName(num) + " is a page that its page tree does not reach");
}

void readBack(int fd, const PdfWriteIntent& meant)
{
    const MappedFile written(fd);
    readBack(written.bytes(), meant);
}

void checkFileHolds(int fd, const QByteArray& written)
{
    std::vector<char> chunk(std::size_t(1) << 20);
    std::size_t at = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw unverified(std::strerror(errno));
        if (n == 0) break;
        if (at + std::size_t(n) > std::size_t(written.size())
            || std::memcmp(chunk.data(), written.constData() + at, std::size_t(n)) != 0)
            throw unfaithful("the file does not hold the bytes written");
        at += std::size_t(n);
    }
    if (at != std::size_t(written.size())) throw unfaithful("the file is shorter than what was written");
}

} // namespace platform
