#include "Platform/QpdfReadBack.h"

#include "Platform/FaxDecoding.h"

#include <qpdf/Buffer.hh>
#include <qpdf/Pl_Discard.hh>
#include <qpdf/Pipeline.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <exception>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace platform {
namespace {

namespace digest = objectdigest;
using Table = std::map<QPDFObjGen, QPDFXRefEntry>;

// Whether libqpdf's message tells of a reader that ran short of memory or
// threads: it takes what failed so for damage, warns of it and reads null
// in its place, or fails over what that null left out ("unable to find
// /Root dictionary" after the catalog could not be read).
bool starved(const std::string& message)
{
    for (const char* sign : {"bad_alloc", "Cannot allocate memory", "Resource temporarily unavailable"})
        if (message.find(sign) != std::string::npos) return true;
    return false;
}

// What a reader that ran short throws: no verdict on the file.
struct Starved : std::exception {
    const char* what() const noexcept override { return "the reader ran short of memory"; }
};

// libqpdf's warnings since it was last asked; throws Starved when one tells
// of a reader that ran short.
std::vector<QPDFExc> takeWarnings(QPDF& pdf)
{
    std::vector<QPDFExc> warnings = pdf.getWarnings();
    for (const QPDFExc& warning : warnings)
        if (starved(warning.what())) throw Starved();
    return warnings;
}

// Damage libqpdf reports as such; anything else it throws is no verdict.
bool isDamage(const std::exception& e)
{
    return (dynamic_cast<const QPDFExc*>(&e)
            || (dynamic_cast<const std::runtime_error*>(&e) && !dynamic_cast<const std::system_error*>(&e)))
           && !starved(e.what());
}

// Allocations on this thread that blocks a reader held back serve (LetGo).
// In the static block of this library's loading (a word of it): LeakSanitizer
// misreads the dynamic blocks of a library loaded on demand, and stops.
__attribute__((tls_model("initial-exec"))) thread_local int t_servedByReserve = 0;

// How a reader goes. libqpdf's destructor allocates (four small blocks in
// libqpdf 11: 80, 16, 24 and 24 bytes), where a failure ends the program,
// whichever thread destroys it. A reader holds as much back from when it is
// made, and hands it to the allocator right before it goes, on the thread
// that destroys it: the C allocator gives a block a thread just freed to
// that thread's next allocation of its size, asking the system for nothing.
class LetGo {
public:
    LetGo() = default;
    // Holds the blocks back: throws std::bad_alloc, before any reader is made.
    explicit LetGo(bool holdBack)
    {
        if (!holdBack) return;
        constexpr std::size_t sizes[] = {24, 24, 16, 80}; // freed in turn, the last first used
        try {
            for (std::size_t i = 0; i < blocks_.size(); ++i) blocks_[i] = ::operator new(sizes[i]);
        } catch (...) {
            handBack(); // those it had, or a constructor that throws keeps them
            throw;
        }
    }
    LetGo(LetGo&& other) noexcept : blocks_(std::exchange(other.blocks_, {})) {}
    LetGo& operator=(LetGo&& other) noexcept
    {
        handBack();
        blocks_ = std::exchange(other.blocks_, {});
        return *this;
    }
    ~LetGo() { handBack(); }

    void operator()(QPDF* pdf) noexcept
    {
        handBack();
        ++t_servedByReserve;
        delete pdf;
        --t_servedByReserve;
    }

private:
    void handBack() noexcept
    {
        for (void*& block : blocks_) ::operator delete(std::exchange(block, nullptr));
    }
    std::array<void*, 4> blocks_{};
};

// A reader of a file, which goes as LetGo lets it.
using Reader = std::unique_ptr<QPDF, LetGo>;

// A file read by libqpdf: strictly, or by rebuilding its table where it
// must be. Throws what libqpdf throws, or Starved where it warned of a
// reader that ran short first: a catalog in an object stream that could
// not be decoded for memory fails as a stream that cannot be decoded.
Reader opened(ReadBackBytes file, const std::string& password, bool rebuild)
{
    Reader pdf(nullptr, LetGo(true));
    pdf.reset(new QPDF);
    pdf->setSuppressWarnings(true);
    pdf->setAttemptRecovery(rebuild);
    try {
        pdf->processMemoryFile("written file", file.data, file.size, password.empty() ? nullptr : password.c_str());
    } catch (const std::exception&) {
        takeWarnings(*pdf);
        throw;
    }
    return pdf;
}

std::string firstWarning(QPDF& pdf)
{
    const std::vector<QPDFExc> warnings = takeWarnings(pdf);
    return warnings.empty() ? std::string() : warnings.front().what();
}

// What libqpdf warned of, without where.
std::set<std::string> warningsOf(QPDF& pdf)
{
    std::set<std::string> messages;
    for (const QPDFExc& warning : takeWarnings(pdf)) messages.insert(warning.getMessageDetail());
    return messages;
}

// Where the file's first byte of "%PDF-" lies: readers count offsets from there.
std::size_t headerStart(ReadBackBytes file)
{
    const std::size_t limit = std::min<std::size_t>(file.size, 1024);
    const std::string_view head(file.data, limit);
    const std::size_t at = head.find("%PDF-");
    return at == std::string_view::npos ? 0 : at;
}

// Each object the file holds in itself, by number and generation: its bytes
// from "N G obj" to the end of its "endobj".
class Extents {
public:
    Extents(ReadBackBytes file, const Table& table) : file_(file)
    {
        const std::size_t bias = headerStart(file);
        std::vector<std::pair<std::size_t, QPDFObjGen>> starts;
        for (const auto& [og, entry] : table)
            if (entry.getType() == 1 && entry.getOffset() >= 0) starts.emplace_back(bias + entry.getOffset(), og);
        std::sort(starts.begin(), starts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        for (std::size_t i = 0; i < starts.size(); ++i) {
            const std::size_t from = starts[i].first;
            const std::size_t to = i + 1 < starts.size() ? starts[i + 1].first : file.size;
            if (from >= to || to > file.size) continue;
            const std::string_view span(file.data + from, to - from);
            const std::size_t end = span.rfind("endobj");
            if (end == std::string_view::npos) continue;
            const std::string_view object = span.substr(0, end + 6);
            // The table's offset must name this very object.
            const std::string head =
                std::to_string(starts[i].second.getObj()) + " " + std::to_string(starts[i].second.getGen()) + " obj";
            if (object.substr(0, head.size()) != head) continue;
            spans_.emplace(starts[i].second, object);
        }
    }

    std::optional<std::string_view> of(QPDFObjGen og) const
    {
        const auto it = spans_.find(og);
        if (it == spans_.end()) return std::nullopt;
        return it->second;
    }

private:
    ReadBackBytes file_;
    std::map<QPDFObjGen, std::string_view> spans_;
};

// The original as a second file to hold the copy's objects against.
struct Original {
    Reader pdf;
    Table table;
    std::optional<Extents> extents;
    bool rebuilt = false;
    bool encrypted = false;
    std::set<std::string> warnings; // as it opened
};

// The original, or none where it does not open; what libqpdf throws
// otherwise than over damage passes on.
std::optional<Original> readOriginal(ReadBackBytes file, const std::string& password)
{
    if (!file.data) return std::nullopt;
    for (const bool rebuild : {false, true}) {
        try {
            Original original;
            original.pdf = opened(file, password, rebuild);
            original.warnings = warningsOf(*original.pdf);
            original.rebuilt = rebuild;
            original.encrypted = original.pdf->isEncrypted();
            original.table = original.pdf->getXRefTable();
            original.extents.emplace(file, original.table);
            return original;
        } catch (const std::exception& e) {
            if (!isDamage(e)) throw;
        }
    }
    return std::nullopt;
}

digest::Digest realDigest(const std::string& text)
{
    std::string_view number(text);
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) return digest::ofString("real " + text);
    return digest::ofReal(value);
}

} // namespace

// Sums up an object as readers take it; references are not followed. With
// `renumbered`, a reference counts as one to the number it was given.
class Walk {
public:
    Walk(const Table& table, std::vector<std::pair<int, int>>& dangling,
         std::function<QPDFObjGen(QPDFObjGen)> renumbered = {})
        : table_(table), dangling_(dangling), renumbered_(std::move(renumbered))
    {}

    digest::Digest of(QPDFObjectHandle object, int depth = 0)
    {
        if (depth > digest::depthLimit) return digest::ofDeep();
        if (depth > 0 && object.isIndirect()) {
            QPDFObjGen og = object.getObjGen();
            if (!table_.count(og)) dangling_.emplace_back(og.getObj(), og.getGen());
            if (renumbered_) og = renumbered_(og);
            return digest::ofReference(og.getObj(), og.getGen());
        }
        switch (object.getTypeCode()) {
        case ::ot_boolean: return digest::ofBoolean(object.getBoolValue());
        case ::ot_integer: return digest::ofInteger(object.getIntValue());
        case ::ot_real: return realDigest(object.getRealValue());
        case ::ot_name: return digest::ofName(std::string_view(object.getName()).substr(1));
        case ::ot_string: return digest::ofString(object.getStringValue());
        case ::ot_array: {
            digest::Items items;
            for (const QPDFObjectHandle& item : object.getArrayAsVector()) items.add(of(item, depth + 1));
            return items.done();
        }
        case ::ot_dictionary: return entries(object, depth, false, depth == 0 && isCatalog(object));
        case ::ot_stream: return digest::ofStream(entries(object.getDict(), depth, true));
        case ::ot_operator: return digest::ofString("operator " + object.getOperatorValue());
        default: return digest::ofNull();
        }
    }

private:
    static bool isCatalog(QPDFObjectHandle dictionary)
    {
        QPDFObjectHandle type = dictionary.getKey("/Type");
        return type.isName() && type.getName() == "/Catalog";
    }

    digest::Digest entries(QPDFObjectHandle dictionary, int depth, bool stream, bool catalog = false)
    {
        digest::Entries entries;
        for (auto& [key, value] : dictionary.getDictAsMap()) {
            const std::string_view name = std::string_view(key).substr(1);
            if (stream && digest::isStorageKey(name)) continue;
            if (catalog && digest::isWritersCatalogKey(name)) continue;
            if (!value.isIndirect() && value.isNull()) continue;
            entries.add(name, of(value, depth + 1));
        }
        return entries.done();
    }

    const Table& table_;
    std::vector<std::pair<int, int>>& dangling_;
    std::function<QPDFObjGen(QPDFObjGen)> renumbered_;
};

std::unordered_map<int, objectdigest::Digest> digestsAsWritten(QPDF& pdf, QPDFWriter& writer)
{
    std::unordered_map<int, objectdigest::Digest> written;
    const Table table = pdf.getXRefTable();
    std::vector<std::pair<int, int>> dangling;
    Walk walk(table, dangling, [&writer](QPDFObjGen og) { return writer.getRenumberedObjGen(og); });
    for (const auto& [og, entry] : table) {
        const QPDFObjGen to = writer.getRenumberedObjGen(og);
        if (to.getObj() == 0) continue;
        QPDFObjectHandle object = pdf.getObject(og);
        written[to.getObj()] = walk.of(object);
    }
    return written;
}

namespace {

bool isWritersOwn(QPDFObjectHandle object)
{
    if (!object.isStream()) return false;
    QPDFObjectHandle type = object.getDict().getKey("/Type");
    return type.isName() && (type.getName() == "/XRef" || type.getName() == "/ObjStm");
}

// Sums up the data piped through it.
class DataDigest : public Pipeline {
public:
    DataDigest() : Pipeline("data digest", nullptr) {}
    void write(unsigned char const* data, size_t length) override { data_.add(data, length); }
    void finish() override {}
    digest::Digest done() const { return data_.done(); }

private:
    digest::Data data_;
};

// The one item of a /Filter or /DecodeParms array of one, or the value itself.
QPDFObjectHandle loneItem(QPDFObjectHandle value)
{
    return value.isArray() && digest::isLoneItem(value.getArrayNItems()) ? value.getArrayItem(0) : value;
}

// Sums up the data of `stream` decoded, in rows of `*rowBits`, where it is
// Group 4 fax data alone (FaxDecoding.h): none where it is not, or does not
// decode so.
std::optional<digest::Digest> faxDigest(QPDFObjectHandle stream, std::uint64_t* rowBits)
{
    QPDFObjectHandle dict = stream.getDict();
    QPDFObjectHandle filter = loneItem(dict.getKey("/Filter"));
    if (!filter.isName() || filter.getName() != "/CCITTFaxDecode") return std::nullopt;
    QPDFObjectHandle parms = loneItem(dict.getKey("/DecodeParms"));
    const auto number = [&](const char* key, long long otherwise) {
        QPDFObjectHandle value = parms.isDictionary() ? parms.getKey(key) : QPDFObjectHandle::newNull();
        return value.isInteger() ? value.getIntValue() : otherwise;
    };
    const auto flag = [&](const char* key) {
        QPDFObjectHandle value = parms.isDictionary() ? parms.getKey(key) : QPDFObjectHandle::newNull();
        return value.isBool() && value.getBoolValue();
    };
    QPDFObjectHandle height = dict.getKey("/Height");
    const long long columns = number("/Columns", 1728);
    const long long rows = number("/Rows", height.isInteger() ? height.getIntValue() : 0);
    if (number("/K", 0) >= 0 || flag("/EncodedByteAlign") || columns < 1 || columns > 0xffffffffLL || rows < 1
        || rows > 0xffffffffLL)
        return std::nullopt;
    const std::shared_ptr<Buffer> data = stream.getRawStreamData();
    digest::Data decoded{std::uint64_t(columns)};
    const FaxParameters parameters{std::uint32_t(columns), std::uint32_t(rows), flag("/BlackIs1")};
    if (!decodeFaxGroup4(data->getBuffer(), data->getSize(), parameters,
                         [&](const unsigned char* row, std::size_t length) { decoded.add(row, length); }))
        return std::nullopt;
    *rowBits = std::uint64_t(columns);
    return decoded.done();
}

// Whether a stream's data decodes with the filters libqpdf knows, and Group
// 4 fax data, which MuPDF's writer makes of 1-bit images: the others
// (images coded for viewing) are taken as stored. With `object`, the data as
// it reads is summed up into it.
// Whether a stream's decoding warned only that its compressed data ended
// before its end marker: every byte there decoded, as the engine and other
// readers decode them, so the data is judged by what it decodes to.
bool endsUnmarked(const std::vector<QPDFExc>& warnings)
{
    return std::all_of(warnings.begin(), warnings.end(), [](const QPDFExc& warning) {
        return std::string_view(warning.what()).find("input stream is complete but output may still be valid")
               != std::string_view::npos;
    });
}

bool decodes(QPDF& pdf, QPDFObjectHandle stream, ReadBackObject* object = nullptr)
{
    try {
        Pl_Discard discard;
        DataDigest data;
        bool attempted = false;
        const bool ok = stream.pipeStreamData(object ? static_cast<Pipeline*>(&data) : &discard, &attempted, 0,
                                              qpdf_dl_generalized, true, false);
        if (!ok || !endsUnmarked(takeWarnings(pdf))) return false;
        if (object) {
            object->hasContent = true;
            object->decoded = attempted;
            object->content = data.done();
            if (!attempted) {
                if (const std::optional<digest::Digest> fax = faxDigest(stream, &object->rowBits)) {
                    object->decoded = true;
                    object->stored = object->content;
                    object->content = *fax;
                }
            } else {
                DataDigest stored;
                if (!stream.pipeStreamData(&stored, nullptr, 0, qpdf_dl_none, true, false)) return false;
                object->stored = stored.done();
            }
        }
        return true;
    } catch (const std::exception& e) {
        takeWarnings(pdf);
        if (!isDamage(e)) throw;
        return false;
    }
}

// A stream's data as stored, summed up as a string; with `asData`, as
// objectdigest::Data too, as the engine sums up its stored data.
digest::Digest storedData(QPDFObjectHandle stream, digest::Digest* asData = nullptr)
{
    try {
        const std::shared_ptr<Buffer> data = stream.getRawStreamData();
        if (asData) {
            digest::Data bytes;
            bytes.add(data->getBuffer(), data->getSize());
            *asData = bytes.done();
        }
        return digest::ofString(std::string_view(reinterpret_cast<const char*>(data->getBuffer()), data->getSize()));
    } catch (const std::exception& e) {
        if (!isDamage(e)) throw;
        return digest::ofNull();
    }
}

// Whether object `og` of the copy holds the bytes the original holds for it.
bool sameAsOriginal(const QPDFObjGen& og, const QPDFXRefEntry& entry, const Extents& copy, const Table& copyTable,
                    const Original& original)
{
    const auto theirs = original.table.find(og);
    if (theirs == original.table.end()) return false;
    if (entry.getType() == 1) {
        const auto ours = copy.of(og);
        const auto held = original.extents->of(og);
        return ours && held && *ours == *held;
    }
    if (entry.getType() == 2 && theirs->second.getType() == 2) {
        if (entry.getObjStreamNumber() != theirs->second.getObjStreamNumber()
            || entry.getObjStreamIndex() != theirs->second.getObjStreamIndex())
            return false;
        const QPDFObjGen stream(entry.getObjStreamNumber(), 0);
        const auto container = copyTable.find(stream);
        return container != copyTable.end() && container->second.getType() == 1
               && sameAsOriginal(stream, container->second, copy, copyTable, original);
    }
    return false;
}

// The copy's pages, walked as readers walk them: their number, or why the
// walk needed repair; their objects into `inTree`, if given.
void readPages(QPDF& pdf, int* pages, std::string* failure, std::set<QPDFObjGen>* inTree = nullptr)
{
    try {
        takeWarnings(pdf);
        const std::vector<QPDFObjectHandle>& all = pdf.getAllPages();
        *pages = int(all.size());
        if (inTree)
            for (const QPDFObjectHandle& page : all) inTree->insert(page.getObjGen());
        *failure = firstWarning(pdf);
    } catch (const std::exception& e) {
        takeWarnings(pdf);
        if (!isDamage(e)) throw;
        *pages = -1;
        *failure = e.what();
    }
}

// Whether the copy is the original with an update appended that keeps its
// encryption: the objects of the original part are its very bytes, which
// the same key reads alike. The key is made of the encryption dictionary,
// which the update must leave where it was, and the first half of /ID; an
// update writes the second half anew.
bool appendedToOriginal(const ReadBackRequest& request, QPDF& pdf, const Table& table, const Original& original)
{
    if (!request.appended || request.copy.size < request.original.size
        || std::memcmp(request.copy.data, request.original.data, request.original.size) != 0)
        return false;
    QPDFObjectHandle ours = pdf.getTrailer(), theirs = original.pdf->getTrailer();
    const auto firstId = [](QPDFObjectHandle trailer) {
        QPDFObjectHandle id = trailer.getKey("/ID");
        return id.isArray() && id.getArrayNItems() > 0 ? id.getArrayItem(0).unparse() : id.unparse();
    };
    QPDFObjectHandle encrypt = ours.getKey("/Encrypt");
    if (firstId(ours) != firstId(theirs) || encrypt.unparse() != theirs.getKey("/Encrypt").unparse()) return false;
    if (!encrypt.isIndirect()) return true;
    const auto copied = table.find(encrypt.getObjGen());
    const auto held = original.table.find(encrypt.getObjGen());
    return copied != table.end() && held != original.table.end() && copied->second.getType() == 1
           && held->second.getType() == 1 && copied->second.getOffset() == held->second.getOffset();
}

// How `stream` stores its data (objectdigest::ofStorage).
digest::Digest storageOf(QPDFObjectHandle stream, Walk& walk)
{
    QPDFObjectHandle dict = stream.getDict();
    const auto valueOf = [&](const char* key) {
        QPDFObjectHandle value = dict.getKey(key);
        if (value.isArray() && digest::isLoneItem(value.getArrayNItems())) value = value.getArrayItem(0);
        return !value.isIndirect() && value.isNull() ? digest::Digest(0) : walk.of(value, 1);
    };
    return digest::ofStorage(valueOf("/Filter"), valueOf("/DecodeParms"));
}

// Whether `stream` stores the very data, stored so, that the original
// stores for it, which the writer copied unchanged.
bool storesCopiedData(QPDFObjectHandle stream, Walk& walk, const StoredData* copied)
{
    if (!copied) return false;
    if (storageOf(stream, walk) != copied->storage) return false;
    const std::shared_ptr<Buffer> data = stream.getRawStreamData();
    // No data at all has no buffer to compare.
    return data->getSize() == copied->data.size
           && (copied->data.size == 0 || std::memcmp(data->getBuffer(), copied->data.data, copied->data.size) == 0);
}

// Whether `object` is a page object: a dictionary of /Type /Page, which
// no /Kids make a node of a page tree whatever its type says.
bool isPageObject(QPDFObjectHandle object)
{
    if (!object.isDictionary() || object.hasKey("/Kids")) return false;
    QPDFObjectHandle type = object.getKey("/Type");
    return type.isName() && type.getName() == "/Page";
}

// Reads one object of the copy into `object`.
void readObject(QPDF& pdf, const QPDFObjGen& og, Walk& walk, ReadBackObject& object, const StoredData* copied)
{
    try {
        takeWarnings(pdf);
        QPDFObjectHandle handle = pdf.getObject(og);
        handle.getTypeCode(); // parses it
        if (!takeWarnings(pdf).empty()) {
            object.unparsed = true;
            return;
        }
        object.writersOwn = object.writersOwn || isWritersOwn(handle);
        object.page = isPageObject(handle);
        object.digest = walk.of(handle);
        if (handle.isStream() && !storesCopiedData(handle, walk, copied)) {
            if (!decodes(pdf, handle, &object)) {
                object.undecodable = true;
                object.data = storedData(handle, &object.stored);
            }
            object.storage = storageOf(handle, walk);
        }
    } catch (const std::exception& e) {
        takeWarnings(pdf);
        if (!isDamage(e)) throw;
        object.unparsed = true;
    }
}

// Runs `work` on a thread of its own where one can be started, else on the
// caller's once its result is asked for (and always there when `alone`): a
// busy machine may refuse a thread, and the read then takes longer, but
// comes to a verdict all the same.
template <typename Work>
auto beside(Work work, bool alone) -> std::future<decltype(work())>
{
    if (!alone) {
        try {
            return std::async(std::launch::async, work);
        } catch (const std::system_error&) {}
    }
    return std::async(std::launch::deferred, work);
}

// Reads the objects `toRead` names of the copy `pdf` into the report: on
// this thread, or, when there are many, shared among readers of their own.
void readObjects(const ReadBackRequest& request, QPDF& pdf, bool rebuilt, const Table& table,
                 const std::vector<std::pair<QPDFObjGen, std::size_t>>& toRead, bool copiedAlike,
                 ReadBackReport& report)
{
    std::unordered_map<int, StoredData> copiedData;
    if (copiedAlike && request.copiedData) {
        std::vector<int> nums;
        nums.reserve(toRead.size());
        for (const auto& [og, at] : toRead) nums.push_back(og.getObj());
        copiedData = request.copiedData(nums);
    }
    const auto readSome = [&](QPDF& reader, std::size_t from, std::size_t to,
                              std::vector<std::pair<int, int>>& dangling) {
        Walk walk(table, dangling);
        for (std::size_t i = from; i < to; ++i) {
            const auto& [og, at] = toRead[i];
            const auto copied = copiedData.find(og.getObj());
            readObject(reader, og, walk, report.objects[at], copied == copiedData.end() ? nullptr : &copied->second);
        }
    };
    // Each reader first reads the file's table, a small part of reading many objects.
    constexpr std::size_t manyObjects = 4000;
    const unsigned readers =
        toRead.size() < manyObjects || request.alone ? 1u : std::clamp(std::thread::hardware_concurrency() / 2, 1u, 4u);
    if (readers == 1) return readSome(pdf, 0, toRead.size(), report.dangling);
    std::vector<std::vector<std::pair<int, int>>> dangling(readers);
    std::vector<std::future<void>> running;
    for (unsigned k = 1; k < readers; ++k) {
        running.push_back(beside(
            [&, k] {
                const Reader own = opened(request.copy, request.password, rebuilt);
                readSome(*own, toRead.size() * k / readers, toRead.size() * (k + 1) / readers, dangling[k]);
            },
            false));
    }
    readSome(pdf, 0, toRead.size() / readers, dangling[0]);
    for (auto& reader : running) reader.get(); // what a reader threw passes on
    for (const auto& some : dangling) report.dangling.insert(report.dangling.end(), some.begin(), some.end());
}

// The page objects of the copy that its page tree does not reach. One
// whose bytes are the original's was not read: it is, where its bytes may
// name a page, but in an update, which keeps the original's by design.
void findStrayPages(const ReadBackRequest& request, QPDF& pdf, const Extents& extents,
                    const std::set<QPDFObjGen>& inTree, ReadBackReport& report)
{
    for (ReadBackObject& object : report.objects) {
        const QPDFObjGen og(object.num, object.gen);
        if (object.sameAsOriginal && request.appended) continue; // the file's own, kept by design
        if (object.sameAsOriginal) {
            const std::optional<std::string_view> bytes = extents.of(og);
            if (bytes && bytes->find("Page") == std::string_view::npos && bytes->find('#') == std::string_view::npos)
                continue;
            try {
                takeWarnings(pdf);
                object.page = isPageObject(pdf.getObject(og));
                takeWarnings(pdf);
            } catch (const std::exception& e) {
                takeWarnings(pdf);
                if (!isDamage(e)) throw;
            }
        }
        if (object.page && !inTree.count(og)) report.strayPages.push_back(object.num);
    }
}

// The copy's pages as a reader of their own walks them, beside the rest.
struct PageWalk {
    bool opened = false;
    int pages = -1;
    std::string failure;
    std::set<QPDFObjGen> inTree;
};

ReadBackReport read(const ReadBackRequest& request)
{
    ReadBackReport report;
    // The original's table, and the copy's pages, are read meanwhile by
    // readers of their own: each reads the same mapped bytes.
    auto pageWalk = beside(
        [&request] {
            PageWalk walk;
            try {
                const Reader own = opened(request.copy, request.password, false);
                PageWalk read;
                readPages(*own, &read.pages, &read.failure, &read.inTree);
                // Only a walk that ended counts: one cut short (memory) is
                // made again on the caller's reader, where it is undecided.
                read.opened = true;
                walk = std::move(read);
            } catch (const std::exception&) {}
            return walk;
        },
        request.alone);
    auto originalRead = beside([&request] { return readOriginal(request.original, request.password); }, request.alone);
    try {
        Reader pdf;
        try {
            pdf = opened(request.copy, request.password, false);
        } catch (const QPDFExc& e) {
            if (starved(e.what())) throw;
            report.failure = e.what();
            if (e.getErrorCode() == qpdf_e_password) {
                report.wrongPassword = true;
                return report;
            }
        }
        const std::optional<Original> original = originalRead.get();
        if (!pdf) {
            // An update keeps the original's bytes: a table that must be
            // rebuilt there must be rebuilt here too, and is no fault of the update.
            if (!(request.appended && original && original->rebuilt)) return report;
            report.failure.clear();
            pdf = opened(request.copy, request.password, true);
            report.rebuilt = true;
        }
        // What libqpdf warns of as it opens the copy, it must warn of in the
        // original too: the writer kept it (an /ID that is no pair of strings).
        for (const std::string& warning : warningsOf(*pdf)) {
            if (!report.rebuilt && !(original && original->warnings.count(warning))) {
                report.failure = warning;
                return report;
            }
        }
        report.encrypted = pdf->isEncrypted();
        if (request.needsPassword) {
            try {
                opened(request.copy, std::string(), report.rebuilt);
                report.failure = "the file opens without its password";
                report.opensWithoutPassword = true;
                return report;
            } catch (const QPDFExc& e) {
                if (starved(e.what())) throw;
            }
        }

        const Table table = pdf->getXRefTable();
        const Extents extents(request.copy, table);
        {
            std::vector<std::pair<int, int>> unused;
            Walk walk(table, unused);
            QPDFObjectHandle trailer = pdf->getTrailer();
            const auto entry = [&](const char* key) {
                QPDFObjectHandle value = trailer.getKey(key);
                return !value.isIndirect() && value.isNull() ? digest::Digest(0) : walk.of(value, 1);
            };
            report.root = entry("/Root");
            report.info = entry("/Info");
            report.id = entry("/ID");
        }
        // Objects compare by their bytes where neither file is encrypted, or
        // where the copy keeps the original's bytes and key.
        const bool compareBytes =
            original && request.keepsNumbers
            && ((!original->encrypted && !report.encrypted) || appendedToOriginal(request, *pdf, table, *original));
        QPDFObjectHandle encrypt = pdf->getTrailer().getKey("/Encrypt");
        const QPDFObjGen encryption = encrypt.isIndirect() ? encrypt.getObjGen() : QPDFObjGen();
        report.objects.reserve(table.size());
        std::vector<std::pair<QPDFObjGen, std::size_t>> toRead;
        for (const auto& [og, entry] : table) {
            ReadBackObject object;
            object.num = og.getObj();
            object.gen = og.getGen();
            object.sameAsOriginal = compareBytes && !request.mustRead.count(object.num)
                                    && sameAsOriginal(og, entry, extents, table, *original);
            object.writersOwn = encryption.isIndirect() && og == encryption;
            if (!object.sameAsOriginal) toRead.emplace_back(og, report.objects.size());
            report.objects.push_back(object);
        }
        readObjects(request, *pdf, report.rebuilt, table, toRead, compareBytes, report);
        PageWalk walked = pageWalk.get();
        if (walked.opened) {
            report.pages = walked.pages;
            report.pageFailure = walked.failure;
        } else {
            walked.inTree.clear();
            readPages(*pdf, &report.pages, &report.pageFailure, &walked.inTree);
        }
        if (request.findStrayPages && report.pages >= 0 && report.pageFailure.empty())
            findStrayPages(request, *pdf, extents, walked.inTree, report);
    } catch (const std::exception& e) {
        report.failure = e.what();
        report.undecided = !isDamage(e);
        report.outOfMemory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    }
    return report;
}

OriginalFailures failuresOf(ReadBackBytes file, const std::string& password)
{
    OriginalFailures failures;
    try {
        std::optional<Original> original = readOriginal(file, password);
        if (!original) return failures;
        QPDF& pdf = *original->pdf;
        for (const auto& [og, entry] : original->table) {
            try {
                takeWarnings(pdf);
                QPDFObjectHandle handle = pdf.getObject(og);
                handle.getTypeCode();
                if (!takeWarnings(pdf).empty()) {
                    failures.objects.insert(og.getObj());
                } else if (handle.isStream() && !decodes(pdf, handle)) {
                    failures.objects.insert(og.getObj());
                    failures.streams.insert(storedData(handle));
                } else if (handle.isStream()) {
                    failures.decoded.insert(og.getObj());
                }
            } catch (const std::exception& e) {
                takeWarnings(pdf);
                if (!isDamage(e)) throw;
                failures.objects.insert(og.getObj());
            }
        }
        int pages = 0;
        std::string failure;
        readPages(pdf, &pages, &failure);
        failures.pagesNeedRepair = original->rebuilt || pages < 0 || !failure.empty();
        failures.read = true;
    } catch (const std::exception& e) {
        failures = {};
        failures.undecided = !isDamage(e);
        failures.outOfMemory = dynamic_cast<const std::bad_alloc*>(&e) != nullptr;
    }
    return failures;
}

const QpdfReadBack readBack{read, failuresOf};

} // namespace
} // namespace platform

extern "C" const void* ravlenQpdfReadBack() { return &platform::readBack; }

// How many destructions of readers, each served by the blocks it held back,
// the calling thread is in: a test's allocator lets what they ask for succeed,
// as the C allocator does.
extern "C" int ravlenQpdfServedByReserve() { return platform::t_servedByReserve; }
