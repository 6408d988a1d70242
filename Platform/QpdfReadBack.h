#pragma once
// What the qpdf library (libravlen-qpdf, with libqpdf) offers the read-back
// of a written PDF (PdfReadBack.h): the file read by a reader that repairs
// nothing, and each object it holds summed up (PdfObjectDigest.h). Never
// included outside Platform/.
#include "Platform/PdfObjectDigest.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

class QPDF;
class QPDFWriter;

namespace platform {

struct ReadBackBytes {
    const char* data = nullptr;
    std::size_t size = 0;
};

// A stream's data as a file stores it, and the digest of how it is stored
// (its /Filter and /DecodeParms, as storageDigest sums them up).
struct StoredData {
    ReadBackBytes data;
    objectdigest::Digest storage = 0;
};

struct ReadBackRequest {
    ReadBackBytes copy;
    // The file the written document was read from, if any: an object whose
    // bytes the copy holds as that file holds them (same number, neither
    // file encrypted) is that file's own, read as it reads, and not read again.
    ReadBackBytes original;
    std::string password; // opens the copy; empty: it opens without one
    // The copy must not open without the password.
    bool needsPassword = false;
    // The copy is the original with an update appended: where the original
    // itself opens only by rebuilding its table, the copy is read so too.
    bool appended = false;
    // Whether the copy's objects keep their numbers from the original: else
    // no object of the copy is the original's own.
    bool keepsNumbers = true;
    // Of the objects `nums`, the streams whose data the writer copied from
    // the original unchanged, by number, as the original stores it (neither
    // file encrypted): a stream of the copy that stores these very bytes, so,
    // decodes as the original's does and is not decoded again. Called on the
    // calling thread.
    std::function<std::unordered_map<int, StoredData>(const std::vector<int>& nums)> copiedData;
    // Objects read whatever their bytes: the ones the write changed, which
    // must read as changed even where the copy holds the original's bytes.
    std::unordered_set<int> mustRead;
    // Read on the calling thread alone, with no reader beside it.
    bool alone = false;
    // Find the page objects the copy's page tree does not reach (in an
    // update, of those it does not hold as the original does).
    bool findStrayPages = false;
};

struct ReadBackObject {
    int num = 0, gen = 0;
    objectdigest::Digest digest = 0; // what it reads as
    bool sameAsOriginal = false;     // its bytes are the original's: not read
    bool unparsed = false;           // it cannot be read without repair
    bool undecodable = false;        // a stream whose data does not decode
    objectdigest::Digest data = 0;   // an undecodable stream's data as stored
    // Not judged against the document: the encryption dictionary, and the
    // tables and object streams a writer makes of its own.
    bool writersOwn = false;
    // A stream's data as it reads (objectdigest::Data): decoded where its
    // filters are all ones every reader decodes alike (`decoded`), else as
    // stored. None for data that does not decode, or that the copy stores
    // as the original does where the writer copied it (judged byte for byte).
    bool hasContent = false;
    bool decoded = false;
    objectdigest::Digest content = 0;
    // Decoded data summed up in rows of this many bits, their padding left
    // out (objectdigest::Data): a 1-bit image's fax data, which writers
    // code from its pixels alone. 0: summed up whole.
    std::uint64_t rowBits = 0;
    // A decoded or undecodable stream's data as stored (objectdigest::Data),
    // and how (objectdigest::ofStorage): where readers decode a filter
    // otherwise (a last row of a predictor cut short), a stream that stores
    // the engine's very bytes, so, reads as the engine's does in every
    // reader; where neither decodes it, it carries the engine's damage.
    objectdigest::Digest stored = 0;
    objectdigest::Digest storage = 0;
    // A page object: a dictionary of /Type /Page that no /Kids make a node of a page tree.
    bool page = false;
};

struct ReadBackReport {
    std::string failure;               // why the copy does not open; empty when it opens
    bool undecided = false;            // the reader failed otherwise than over damage: no verdict
    bool outOfMemory = false;          // undecided because memory ran short
    bool wrongPassword = false;        // it does not open with the password
    bool opensWithoutPassword = false; // it opens without the password it needs
    bool encrypted = false;
    bool rebuilt = false; // read by rebuilding its table, as the original must be
    int pages = -1;       // -1: its pages cannot be read without repair
    std::string pageFailure;
    std::vector<ReadBackObject> objects;
    // References to objects the copy does not hold, from the objects read.
    std::vector<std::pair<int, int>> dangling;
    // With findStrayPages, where the copy's pages read without repair: the
    // page objects its page tree does not reach.
    std::vector<int> strayPages;
    // The trailer's /Root, /Info and /ID, summed up as an object's entries
    // are (a reference as one); 0 for none.
    objectdigest::Digest root = 0, info = 0, id = 0;
};

// What a file a copy was written from cannot read itself without repair.
struct OriginalFailures {
    bool read = false;                                // whether it opened at all
    bool undecided = false;                           // the reader failed otherwise than over damage
    bool outOfMemory = false;                         // undecided because memory ran short
    bool pagesNeedRepair = false;                     // its page tree reads only with repair
    std::unordered_set<int> objects;                  // objects that do not parse or decode
    std::unordered_set<objectdigest::Digest> streams; // the stored data of streams that do not decode
    std::unordered_set<int> decoded;                  // streams that decode
};

struct QpdfReadBack {
    // Never throws: a failure to read is in the report.
    ReadBackReport (*read)(const ReadBackRequest& request);
    OriginalFailures (*failuresOf)(ReadBackBytes file, const std::string& password);
};

// Inside the qpdf library only: each object of `pdf` that `writer` wrote,
// summed up under the number it wrote it as, its references renumbered so.
std::unordered_map<int, objectdigest::Digest> digestsAsWritten(QPDF& pdf, QPDFWriter& writer);

} // namespace platform

// Returns the library's QpdfReadBack.
extern "C" const void* ravlenQpdfReadBack();
