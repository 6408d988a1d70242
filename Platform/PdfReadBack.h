#pragma once
// Every PDF written for the user is read back before it replaces anything:
// a second reader that repairs nothing (libqpdf, loaded on first use) opens
// the bytes written, and they are judged against what the write meant. The
// file must open, with the document's password when it is encrypted and not
// without it; every object must parse and every stream decode, unless it
// did not in the file the document was read from either, or the stream
// stores the very bytes the engine holds, which it cannot decode either
// (and the original, read, does not decode); every object the
// writer wrote must read as the engine held it (keys, names, strings,
// numbers, references: PdfObjectDigest.h), every stream with the data the
// engine holds (decoded, the fax data the writer makes of a 1-bit picture
// too, by libtiff, its rows' padding aside; or byte for byte where the
// writer copied it from that file, or where the two readers decode its
// filters otherwise); every
// object the change made or changed must be in the copy as the engine holds
// it, whatever its bytes; the trailer must name the
// catalog, the document information and the /ID the writer wrote, and the
// pages must be the document's. An object written with the very bytes of
// that file, which neither file encrypts (or an update keeps, key and
// all), is that file's own and reads as it reads. Where the engine's
// reading cannot be judged (a name as long as the engine keeps, which it
// may have cut) the write is refused as namesTooLong; where the check itself
// cannot decide, as unverifiedCopy: never taken for sound. A reader the
// machine starves (of memory, of threads) decides nothing either way: the
// read is tried again, alone and after pauses, before the check is undecided.
//
// The writers of Platform/ describe what they meant (PdfWriteIntent) and call
// readBack on what they wrote, before the rename; the rule is readBack's alone.
#include "Platform/PdfDocument.h"
#include "Platform/QpdfReadBack.h"

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {

// The trailer's /Root, /Info and /ID as the writer wrote them, summed up as
// an object's entries are (a reference as one); 0 for none.
struct WrittenTrailer {
    objectdigest::Digest root = 0, info = 0, id = 0;
};

struct PdfWriteIntent {
    int pageCount = 0;
    bool encrypted = false;
    std::string password;       // opens the copy; empty: it opens without one
    bool needsPassword = false; // and it does not open without it
    // An update appended to `original`, the bytes the document was read from.
    bool appended = false;
    ReadBackBytes original;
    std::string originalPassword;
    // Files the document's objects were copied from: a stream whose stored
    // data does not decode there either is not held against the copy.
    std::vector<ReadBackBytes> ancestors;
    // Whether an object keeps its number from `original` to the copy.
    bool keepsNumbers = true;
    // The digest of object `num` as the engine held it when it was written;
    // none for a number it holds no object under. Sets `*undecidable` when
    // the engine's reading of it cannot be trusted. May throw PdfError.
    std::function<std::optional<objectdigest::Digest>(int num, bool* undecidable)> object;
    // Whether the engine holds an object under `num` and `gen`.
    std::function<bool(int num, int gen)> holds;
    // Objects written on purpose otherwise than the engine holds them.
    std::unordered_set<int> unjudged;
    // Streams whose data the writer copied unchanged from `original`
    // (QpdfReadBack.h), where neither file is encrypted.
    std::function<std::unordered_map<int, StoredData>(const std::vector<int>& nums)> copiedData;
    // The data of stream `num` as the engine holds it (objectdigest::Data),
    // `decoded` by its filters or as stored, in rows of `rowBits` where not
    // 0; none where the engine cannot read it. Unset: the data is judged by
    // whether it decodes alone.
    std::function<std::optional<objectdigest::Digest>(int num, bool decoded, std::uint64_t rowBits)> data;
    // How the engine holds stream `num`'s data stored (objectdigest::ofStorage):
    // a stream the readers decode otherwise is judged by its stored bytes.
    std::function<std::optional<objectdigest::Digest>(int num)> storage;
    // Whether the engine decodes stream `num`'s data to its end by its
    // filters, warning of no damage on the way. A stream of the copy that stores the very bytes the engine
    // holds, stored so, which neither the engine nor the second reader
    // decodes, carries the document's damage unchanged: no fault of the
    // write, unless the original, read, decodes that stream. Unset: every
    // stream counts as decoding. May throw PdfError.
    std::function<bool(int num)> decodes;
    // Stream `num`'s stored data with the /ASCIIHexDecode at the head of its
    // filters taken off, and how it is stored then, as the engine's writer
    // takes it off when it compresses a stream: the data a copy stores where
    // it cannot be decoded whole (an image's own coding after the hex).
    // None for a stream whose filters do not start so.
    struct Unhexed {
        objectdigest::Digest storage = 0, data = 0;
    };
    std::function<std::optional<Unhexed>(int num)> unhexed;
    // The objects the change made or changed since the file was read, which
    // the write meant to write unless `written` says it left one out.
    std::vector<int> changed;
    std::function<bool(int num)> written;
    // The trailer as written; none: not judged.
    std::optional<WrittenTrailer> trailer;
    // A whole file written without what nothing reaches, or an update,
    // holds no page object its page tree does not reach but those this
    // allows, by the number the copy holds it under, as `object` takes it:
    // the file's own, which it held so (in a whole file, never a page taken
    // out of the tree); never a page made since. Unset: not judged (a whole
    // file written without collection holds all the document holds).
    std::function<bool(int num)> pageOutsideTreeAllowed;
};

// A file open at a descriptor, mapped for reading while this lives.
// Throws PdfError(unverifiedCopy) when it cannot be mapped.
class MappedFile {
public:
    explicit MappedFile(int fd);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ReadBackBytes bytes() const { return {data_, size_}; }

private:
    const char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Loads the reader readBack judges with (libqpdf) now: ravlen does as it
// starts, before any document, for a library that starts while memory runs
// short (as a save's first read-back could) ends the program. False when it
// cannot be loaded; every read-back is then undecided (unverifiedCopy), and
// none tries to load it again. Without this call the first read-back loads it.
bool loadReadBack();

// Reads `written` back and judges it against `meant`: returns when it reads
// as meant, throws PdfError otherwise (unfaithfulCopy, unopenableCopy,
// namesTooLong or unverifiedCopy), saying what differs.
void readBack(ReadBackBytes written, const PdfWriteIntent& meant);

// The same for the file open at `fd`, read from its start.
void readBack(int fd, const PdfWriteIntent& meant);

// Reads the file open at `fd` back and throws PdfError(unfaithfulCopy)
// unless it holds exactly `written`: bytes that were read back already as a
// write made them (PdfDocument::save), and now went to a file.
void checkFileHolds(int fd, const QByteArray& written);

} // namespace platform
