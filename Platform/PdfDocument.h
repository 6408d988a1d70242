#pragma once
// ravlen's PDF engine: one small C++ API over MuPDF. Every MuPDF call of the
// program stays behind this layer; MuPDF errors come out as PdfError.
#include "Platform/PdfError.h"
#include "Platform/PdfGeometry.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class ChosenFile;

// Affine transform in the PDF convention: x' = a x + c y + e, y' = b x + d y + f.
struct PdfMatrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
    PdfPoint map(PdfPoint p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
    PdfRect mapRect(const PdfRect& r) const;
    PdfMatrix inverted() const;
    PdfMatrix then(const PdfMatrix& next) const; // this, followed by next
    static PdfMatrix scale(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
    static PdfMatrix translate(double tx, double ty) { return {1, 0, 0, 1, tx, ty}; }
};

// A page's boxes in user space, its rotation and how it is shown.
struct PdfPageGeometry {
    PdfRect mediaBox;
    PdfRect cropBox;
    int rotation = 0;    // 0, 90, 180 or 270
    PdfSize displaySize; // the display box as drawn: rotated, in points
    // Maps user space to display space: origin at the top left of the shown
    // page, y down, in points. Scale it to get pixels.
    PdfMatrix userToDisplay;
};

// Normalises any /Rotate value to 0, 90, 180 or 270.
int normalizedRotation(int degrees);

struct PdfChar {
    char32_t code = 0;
    PdfQuad quad; // user space
};

struct PdfTextLine {
    std::vector<PdfChar> chars;
    PdfRect bounds;
    std::string text() const; // UTF-8
};

struct PdfTextBlock {
    std::vector<PdfTextLine> lines;
    PdfRect bounds;
};

struct PdfTextPage {
    std::vector<PdfTextBlock> blocks;
    int images = 0; // images the page draws, whose pixels may hold words no text gives
    // Lines joined by "\n", blocks by a blank line: UTF-8.
    std::string text() const;
};

struct PdfLink {
    PdfRect rect;                        // user space of the page that holds the link
    std::string uri;                     // external URI, or MuPDF's internal "#page=…"
    std::optional<int> targetPage;       // internal links
    std::optional<PdfPoint> targetPoint; // user space of the target page
};

struct PdfOutlineItem {
    std::string title;
    std::string uri;
    std::optional<int> page;
    std::optional<PdfPoint> point; // user space of that page
    bool open = false;
    std::vector<PdfOutlineItem> children;
};

struct PdfPermissions {
    bool print = true, copy = true, edit = true, annotate = true, fillForms = true, assemble = true;
    bool printHighQuality = true, accessibility = true; // granted when writing; not read back
};

struct PdfSaveOptions {
    enum class Encryption { keep, none, aes256 };
    Encryption encryption = Encryption::keep;
    std::string userPassword;  // with aes256
    std::string ownerPassword; // with aes256
    int permissions = -1;      // PDF /P flags with aes256; -1: all allowed
    bool compress = true;
    // Leaves out objects nothing refers to; object numbers stay as they are.
    bool garbageCollect = false;
    std::optional<PdfPermissions> allowed; // with aes256: named grants, in place of `permissions`
    // Writes a file other than the one the document was read from although
    // it may show less than that file (see copyShowsLess); false refuses
    // (PdfError lossyCopy), so that the user can be asked first.
    bool lossAccepted = true;
    // Reads the written bytes back before they replace anything or are handed
    // on (PdfReadBack.h). Off only to time the check itself.
    bool readBack = true;
    // Writes a new file (one where none was) although the read-back could
    // not decide whether it reads as the document (unverifiedCopy): the user
    // was told and chose to keep their work so. Never replaces a file.
    bool unverifiedAccepted = false;
    // Runs on the written file before it is read back: a test's stand-in for
    // a writer that wrote what it did not mean.
    std::function<void(int fd)> beforeReadBack;
};

// A page recorded once and drawn on any thread, any number of times.
class PdfDisplayList {
public:
    ~PdfDisplayList();
    PdfDisplayList(const PdfDisplayList&) = delete;
    PdfDisplayList& operator=(const PdfDisplayList&) = delete;

    PdfSize displaySize() const { return size_; }
    // Bytes the recording keeps in memory (an estimate: its commands and the
    // images, fonts and shadings that no page had loaded before it).
    std::size_t cost() const { return cost_; }
    // Renders the whole page, or the part of it in `clip` (pixels at this
    // scale), on opaque white. Returns a null image when cancelled or failing.
    QImage render(double scale, const QRect& clip = {}) const;
    // The same in 32-bit pixels (QImage::Format_RGB32), drawn straight into
    // an image that `source` gives for the size needed, so that a caller can
    // reuse its buffers; an image of another size or format is not used.
    using ImageSource = std::function<QImage(QSize)>;
    QImage renderRgb32(double scale, const QRect& clip = {}, const ImageSource& source = {}) const;
    // The page's text as PdfDocument::textPage reads it, without holding the
    // document: several threads may read pages of one document at once.
    PdfTextPage textPage() const;
    // Whether drawing the page failed part way (damaged content): the
    // recording holds what was drawn before the failure.
    bool damaged() const { return damaged_; }

    struct Impl;
    explicit PdfDisplayList(Impl* impl, PdfSize size, std::size_t cost = 0, bool damaged = false)
        : d(impl), size_(size), cost_(cost), damaged_(damaged)
    {}

private:
    QImage draw(double scale, const QRect& clip, const ImageSource& make) const;

    Impl* d;
    PdfSize size_;
    std::size_t cost_;
    bool damaged_;
};

class PdfDocument {
public:
    // Opening throws PdfError: missingFile, folder, unreadable, or damaged for
    // anything that is not a PDF. A PDF without pages, or whose first page
    // cannot be read, opens. Opening reads what the first page needs, as
    // MuPDF needs it; a file of up to 32 MB is read whole soon after (see
    // sourceChanged); `path` is bytes, any encoding.
    static std::shared_ptr<PdfDocument> openFile(const std::string& path);
    // The same for the regular file open for reading at descriptor `fd`,
    // which the document takes (closed when it goes, or when opening throws).
    static std::shared_ptr<PdfDocument> openDescriptor(int fd);
    static std::shared_ptr<PdfDocument> openBytes(const QByteArray& bytes);
    // One white page of the given size in points; no pages when that fails.
    static std::shared_ptr<PdfDocument> createBlank(double width = 612, double height = 792);
    // A document with no pages.
    static std::shared_ptr<PdfDocument> createEmpty();

    ~PdfDocument();
    PdfDocument(const PdfDocument&) = delete;
    PdfDocument& operator=(const PdfDocument&) = delete;

    // Locking: a password-protected document opens locked.
    bool needsPassword() const;
    bool isLocked() const;
    bool unlock(const std::string& password); // false for a wrong password

    // Opening reads what the first page needs. The rest of the file is read
    // by the first edit or save, or sooner in slices through `settle` (on a
    // worker, between renders), so that MuPDF's rebuild of a damaged file
    // happens before there is an edit it could drop. Reads up to `objects`
    // more objects; true once every object has been read. Its first call
    // reads a file of up to 32 MB whole (see sourceChanged) before anything
    // else, without keeping the document from the window meanwhile.
    // `settle(0)` does only that.
    bool settle(int objects) const;

    int pageCount() const; // 0 while locked
    PdfPageGeometry pageGeometry(int page) const;
    PdfTextPage textPage(int page) const;
    std::vector<PdfLink> links(int page) const;
    std::vector<PdfOutlineItem> outline() const;

    // Document attributes.
    std::string version() const; // "1.7"
    bool isEncrypted() const;
    std::string encryptionMethod() const; // "None" or MuPDF's description
    PdfPermissions permissions() const;
    // The raw Info entry of `key` ("Title", "Author", "CreationDate", …) as UTF-8.
    std::optional<std::string> infoString(const std::string& key) const;
    // Sets or, with nullopt, removes an Info entry; creates /Info when missing.
    void setInfoString(const std::string& key, const std::optional<std::string>& value);
    // A /Keywords entry may be a string or, in some files, an array of strings.
    std::vector<std::string> infoStringList(const std::string& key) const;

    // Reading a page's content (recording, rendering, text) can take without
    // end on a crafted file, and may run on any thread. This calls off what
    // runs now and refuses what comes later: MuPDF stops between two
    // operators of the page, and that work throws PdfError(cancelled). For a
    // document nobody shows any more; edits and saves still work.
    void stopPageWork() const;

    // Rendering on the calling thread.
    QImage render(int page, double scale, const QRect& clip = {}) const;
    // Records a page for rendering elsewhere (annotations and widgets included);
    // a page whose drawing fails part way is recorded up to the failure.
    // `windowWaits`: the window shows nothing of the page until it is recorded
    // (its first paint), so the work starts at once instead of keeping off
    // while the window used the document a moment ago; it still gives way
    // when the window asks for the document.
    std::shared_ptr<PdfDisplayList> displayList(int page, bool windowWaits = false) const;

    // Writing. `save` keeps the file's encryption unless told otherwise.
    // A save refuses (PdfError changedSinceOpen) when MuPDF had to rebuild the
    // file's cross-reference table after opening, or the page count is not the
    // one the document had, so it never writes fewer pages than it read; and
    // (unreadablePages) when the page tree names a page that no dictionary
    // holds, which the file would keep only as a null. A failed write is
    // tried once more without compressing streams. A file that carries a
    // digital signature is saved as an incremental update: the signed bytes
    // stay as they were. An update takes the form of the file's last
    // cross-reference section (a stream or a table), so that a copy handed
    // on takes the next update too. A document whose file another program rewrote in
    // place (sourceChanged) is refused (PdfError sourceChanged). Bytes made
    // here (and by copy) leave the document as it was: its next save writes
    // what it writes without them.
    QByteArray save(const PdfSaveOptions& options = {}) const;
    // Writes to a temporary file beside `path`, syncs it and renames it into
    // place, keeping the owner, group and mode of the file it replaces: the
    // file at `path` is replaced whole or not at all. A writable file in a
    // folder that cannot take a new file is written in place, through a copy
    // of the original that is put back when the write fails. A file we may
    // not write is refused. Failures carry the errno (PdfError::systemError).
    // Refuses (repairedFile) to write over the very file the document was
    // read from (same device and inode) when MuPDF had to rebuild that file to
    // read it: the file may hold more than MuPDF found (other readers often
    // recover more), and that would be lost. Another file takes it.
    // Refuses a document with no pages: few readers open such a file
    // (noPages); one whose page objects are damaged past finding may show
    // pages in other readers as it is (unreadablePages). A file whose page
    // tree had to be rebuilt from its page objects, other than its own tree
    // reaches (lost, or a loop), is not written over either (repairedFile).
    // Refuses (unparsedObjects) to write over that file too when objects it
    // holds and uses could not be parsed, or were read only as other readers
    // read them where MuPDF cannot (a catalog or page with a key that is no
    // name): they would be written as null (a
    // font, a page's resources), losing what other readers still show; or
    // were parsed only by guessing past damage (MuPDF's warning while reading
    // them, an object stream whose check sum is wrong, a cross-reference entry
    // that names another generation than the object): they would be written
    // as guessed. Another file takes it, the original stays whole. Refuses (namesTooLong) any file
    // when the document uses a name longer than MuPDF keeps: it would be cut
    // where it is defined and stay whole where it is used. Refuses
    // (lossyCopy) another file that may show less than that file
    // (copyShowsLess), unless the options accept it. An encrypted copy that
    // would not open with the document's password is not written
    // (unopenableCopy). Refuses (signedRewrite) to write over a signed file
    // that MuPDF cannot update (one it had to rebuild): written anew, its
    // signature would no longer verify. Another file takes it. Over the file
    // the document was read from or last saved to, one whose bytes hold a
    // signature as it is replaced starts the new file, or is refused so.
    // MuPDF writes into the new file as it makes the bytes: the document is
    // never held in memory whole for a save.
    // The file is the one its question saw (ChosenFile): another file at
    // its name now is neither written nor replaced (fileReplaced).
    void saveToFile(const ChosenFile& file, const PdfSaveOptions& options = {}) const;
    // The file the document was opened from or last saved to, by device and
    // inode; none for a document made in memory.
    std::optional<std::pair<std::uint64_t, std::uint64_t>> ownFile() const;
    // A file of up to 32 MB is read whole by the first `settle` or edit, or
    // the first save, and nothing done to it afterwards reaches the document.
    // A longer one, and a short one until then, is read as it is needed; if
    // another program writes it in place (same file, new bytes) the document
    // reads nothing more from it: pages not read yet fail, and saves and
    // copies are refused (sourceChanged), for they would mix that program's
    // bytes into the document. Whether that happened.
    bool sourceChanged() const;
    // Whether a file written from the document may show less than the file
    // (or bytes) it was read from shows in other programs: MuPDF had to
    // rebuild that file to read it, or its pages are shown from a tree
    // rebuilt otherwise than its own reaches, or objects the document uses
    // could not be parsed, or only by guessing past damage (a copy holds
    // MuPDF's reading). What refuses a save over that file (saveToFile).
    // Reads the rest of the file first. False for a document made here, and
    // for a locked one, of which nothing is written.
    bool copyShowsLess() const;
    // The same for a copy written anew, never as an update of the file's own
    // bytes (an export): objects the engine could not read, which an update
    // would keep as the file holds them, are lost to it; and so is what a
    // stream the document uses holds past damage the engine could not decode
    // (a flattened copy holds what the engine read of it).
    bool newCopyShowsLess() const;
    // Whether a save into a file would leave pages taken out of the document
    // readable in it: it goes by update after the file's own bytes (a signed
    // file), whose earlier version still holds those pages.
    bool updateKeepsRemovedPages() const;
    // Whether the document holds a signed signature field.
    bool isSigned() const;
    // An independent copy (for a background thread), made from saved bytes
    // (see save); refused (sourceChanged) as save() is.
    std::shared_ptr<PdfDocument> copy() const;
    // The bytes a copy to read on other threads opens: the document written
    // whole, unencrypted and uncompressed, without what nothing refers to (a
    // broken object a program left behind would stop the write), not read
    // back, for it is no file.
    QByteArray readingCopy() const;

    struct Impl;
    Impl& impl() const { return *d; }

private:
    explicit PdfDocument(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> d;
};

// What the document holds, summed up: every object (its number, generation,
// entries, and the bytes its stream stores) and the trailer's /Root, /Info,
// /Encrypt and the first half of /ID. No write changes it: a save, a copy, an
// export leave it as it was (a save by update reads the document again from
// the bytes written, which hold it alike). Reads the rest of the file first;
// 0 for a locked document.
std::uint64_t documentDigest(const PdfDocument& doc);

// What tests change in the check that no write changes the document it
// writes, each for the next so many writes: reading the document's state
// after the write fails (as when memory runs short); the write changes the
// document, and putting it back fails; reading it again from its bytes
// after such a write fails too.
struct WriteGuardSeams {
    int failingStateReads = 0;
    int unrestorableWrites = 0;
    int failingRebuilds = 0;
};
WriteGuardSeams& writeGuardSeams();

} // namespace platform
