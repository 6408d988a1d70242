#pragma once
// The document of one window: the parsed PDF, its undo stack and its change
// counter. Every edit of the PDF, whoever makes it, is an undo step on this
// document's stack and is announced here with noteEdit; views redraw on
// generationChanged alone. Whether the file needs saving is isEdited: the
// stack's clean state and the edits no step records. Pages are named by their
// page object, which stays with a page when pages move.
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageIdentity.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUndoStack>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

namespace quarnkit {

// A page of a document by its page object: the same page wherever it stands.
using PageId = platform::PdfPageId;

// What an edit of the pages did to them, for the window that shows them:
// where the pages it put in (inserted or moved) stand now, and the pages it
// turned.
struct PagesEdit {
    std::set<int> placed;
    std::vector<PageId> turned;
};

// The failures of reading and writing a document, each with a fixed sentence.
class DocumentError : public std::runtime_error {
public:
    enum class Code {
        fileReadCorruptFile,       // bytes that are not a readable PDF, or not a regular file
        fileReadNoSuchFile,        // nothing at that path
        fileReadIsFolder,          // the path is a folder
        fileReadNoPermission,      // the file may not be read
        fileWriteUnknown,          // no bytes to write, or the file could not be written
        fileWriteOutOfSpace,       // the disk is full
        fileWriteNoPermission,     // the file or its folder may not be written
        fileWriteVolumeReadOnly,   // the disk is mounted read-only
        fileWriteTooLarge,         // the file would pass the size this process may write
        fileWriteDamagedSinceOpen, // MuPDF rebuilt the file after opening: a save could lose changes
        fileWriteRepairedFile,     // over the file MuPDF had to repair to read: Save As instead
        fileWriteUnreadablePages,  // the page tree names pages that cannot be read
        fileWriteNoPages,          // the document has no pages: no such PDF is written
        fileWriteDamagedContent,   // the engine could not write the document: part of it is damaged
        fileWriteSourceChanged,    // another program rewrote the file in place: its bytes are no longer the document's
        fileWriteUnparsedObjects,  // over a file with objects the engine cannot parse: Save As instead
        fileWriteNamesTooLong,     // the file uses names longer than the engine keeps: no save would keep them whole
        fileWriteForeignLink,      // the name is a link another user made in a shared folder: never written through
        fileWriteForeignFile,      // the name is another user's file in a shared folder: never written into
        fileWriteUnopenableCopy,   // the written copy would not open with the document's password: not written
        fileWriteCopyShowsLess,    // another file may show less than the damaged original: asked before writing
        fileWriteFileReplaced,     // Save: another file than the document's is at its name now: asked before writing
        fileWriteUnfaithfulCopy,   // the written file, read back, was not the document: not put in place
        fileWriteUnverifiedCopy,   // the written file could not be read back to be checked: not put in place
        fileWriteSignedRewrite,    // over a signed file the engine cannot update: its signature would break, Save As
        fileWriteChangedByWrite,   // writing changed the document: put back, or read again; a new file asks first
        fileWriteUnrestored,       // an earlier write changed the document past putting back: no PDF written from it
    };
    // `reason` is the underlying cause in the library's words: for the log,
    // never for the user.
    DocumentError(Code code, std::string reason = {});
    // With its own sentence for the alert, where the code's says too little.
    DocumentError(Code code, std::string reason, std::optional<QString> sentence);
    Code code() const { return code_; }
    const std::string& reason() const { return reason_; }
    // The fixed sentence of a code: plain words, for the alert.
    static const char* message(Code code);
    // The sentence for a write refused because another user made the name
    // (a link, a file in a shared folder, a second name in their folder),
    // naming it, whoever wrote; none for any other failure.
    static std::optional<QString> foreignNameRefusal(const std::exception& error);
    // The sentence for a write refused on reading the written file back (it
    // did not read as the document, could not be read back, or would lose
    // names too long for the engine), whoever wrote; none for any other failure.
    static std::optional<QString> readBackRefusal(const std::exception& error);
    // A write that ran out of memory: the file and the document stay as they were.
    static DocumentError outOfMemory();
    // This error's sentence for the alert: the code's, or one that names the
    // file another user made.
    QString sentence() const;

private:
    Code code_;
    std::string reason_;
    std::optional<QString> sentence_;
};

using FileKey = std::pair<quint64, quint64>;

// A file the user chose to write, as the question about it saw it
// (platform::ChosenFile): the folder that holds it, held, its name, and the
// file it replaces or that there was none. Every writer of such a file
// takes one; only the functions below make one.
using ChosenFile = platform::ChosenFile;
// The question about a name that holds a file or a link: the name as the
// user knows it, and for a link the file it leads to (empty otherwise); true
// to write over it.
using ReplaceQuestion = std::function<bool(const QString& name, const QString& leadsTo)>;
// The file at `path` the user chose to write, asking `question` when a file
// or a link is there; none when the user declined. Throws DocumentError with
// the write code that says why the path cannot be written (another user's
// link on the way, a folder that is not there, …).
std::optional<ChosenFile> chooseFile(const QString& path, const ReplaceQuestion& question);
// Save: the file at `path` that `document` was opened from or last saved to (or,
// with `meant`, Overwrite: the file its question saw there; (0, 0) for none):
// another file there now is neither written nor replaced
// (fileWriteFileReplaced). Throws DocumentError as chooseFile.
class QuarnDocument;
ChosenFile documentFile(const QuarnDocument& document, const QString& path,
                        std::optional<FileKey> meant = std::nullopt);
// The path the user chose, as they chose it.
QString chosenPath(const ChosenFile& file);

// Writes `pdf` to `file` as QuarnDocument::writeTo does, with the time of the
// save as its modification date; callable from any thread. Without
// `lossAccepted`, a file other than the one `pdf` was read from that may
// show less than it in other programs (the file had to be repaired, or
// objects it uses cannot be read) is refused (fileWriteCopyShowsLess), for
// the user to say whether to write it. Another file than the one the
// question saw at the name is neither written nor replaced
// (fileWriteFileReplaced), for the user to say whether to write over it.
// With `unverifiedAccepted`, a new file (where none was) is written although
// it could not be read back to be checked (fileWriteUnverifiedCopy), as the
// user chose. `beforeReadBack` runs between the write and its read-back.
void writeDocumentFile(platform::PdfDocument& pdf, const ChosenFile& file, bool lossAccepted = true,
                       bool unverifiedAccepted = false, const std::function<void(int fd)>& beforeReadBack = {});

// The one rule of every road that writes the document anew into a new file
// the user asked for (Export's PDFs, Share's working copy, Extract Pages,
// Print to a file; Save As is asked through its writer): one that may show
// less than the damaged file it was read from in other programs
// (newCopyShowsLess) is asked about first, once a document, the answer
// shared with Save As (QuarnDocument::acceptCopyLoss, given as
// `lossAccepted`). True when the user must be asked now. It may read the
// document whole: for a worker.
bool copyNeedsLossQuestion(const platform::PdfDocument& pdf, bool lossAccepted);

// The bytes of `pdf` as QuarnDocument::snapshot makes them; callable from any thread.
QByteArray snapshotOf(const platform::PdfDocument& pdf);

// Reads the rest of a file just opened on a worker (PdfDocument::settle), so
// that the first edit need not: called once its window shows, it starts a
// moment later from the calling thread's event loop, and stops when the
// document is gone.
void settleInBackground(const std::shared_ptr<platform::PdfDocument>& pdf);
class QuarnDocument;
void settleInBackground(const QuarnDocument& document);

class QuarnDocument : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 generation READ generation NOTIFY generationChanged)

public:
    // A PDF read on a worker by read(), to be made a document on the thread
    // that shows it; its holder cannot look inside.
    class Parsed {
    public:
        Parsed() = default;

    private:
        friend class QuarnDocument;
        explicit Parsed(std::shared_ptr<platform::PdfDocument> pdf) : pdf_(std::move(pdf)) {}
        std::shared_ptr<platform::PdfDocument> pdf_;
    };

    // A new, untitled document: one white page of 612 by 792 points (no pages
    // when that page cannot be made).
    explicit QuarnDocument(QObject* parent = nullptr);
    // A document around a PDF already parsed.
    explicit QuarnDocument(std::shared_ptr<platform::PdfDocument> pdf, QObject* parent = nullptr);
    explicit QuarnDocument(Parsed parsed, QObject* parent = nullptr);
    // The document's window is gone: renders, recordings and text reading of
    // its pages still running on workers stop (PdfDocument::stopPageWork).
    ~QuarnDocument() override;

    // Reading: a missing file, a folder, a file that may not be read and bytes
    // that are not a PDF each throw their DocumentError code. A PDF without
    // pages opens (the viewer says so). A password-protected PDF opens locked.
    static std::unique_ptr<QuarnDocument> open(const QString& path);
    // The reading part of open(), callable on a worker: the parsed PDF, to be
    // made a document on the thread that shows it. Throws as open() does.
    static Parsed read(const QString& path);
    static std::unique_ptr<QuarnDocument> fromData(const QByteArray& bytes);

    // Every edit of the document is a step here; nothing else holds an undo stack.
    QUndoStack& undoStack() const { return *undoStack_; }

    qint64 generation() const { return generation_; }
    // The page the last edit touched; none for a whole-document change or before any edit.
    std::optional<platform::PdfPageId> editedPage() const { return editedPage_; }
    // Where that page stands now; none as for editedPage, or when it is gone.
    std::optional<int> editedPageIndex() const;
    // Records one edit: editedPage first, then generation + 1 (observers read
    // the editedPage of the same edit).
    void noteEdit(std::optional<platform::PdfPageId> page);
    // The same for the page at `index` now (the whole document when there is none).
    void noteEditOfPage(int index);
    // An edit that no undo step records (a step whose undo or redo failed
    // kept what it holds): the document counts as edited until it is saved,
    // or the edit could be lost at close without the question.
    void noteUnrecordedEdit(std::optional<platform::PdfPageId> page);
    // Records an edit of the pages as noteEdit does one of the whole
    // document, then tells pagesEdited what it did.
    void notePagesEdit(const PagesEdit& edit);

    // Whether the file is out of date: the undo stack is away from its clean
    // state, or an edit no step records came since the last save. Whatever
    // asks whether the document is unchanged (the window's mark, closing,
    // Save, Revert, Share) asks this, never the undo stack alone.
    bool isEdited() const;
    // Where the document stands, taken before a save starts; given back to
    // noteSaved once that save has written the file, so that edits made while
    // it was written keep the document edited.
    struct SavePoint {
        int stackIndex = 0;
        quint64 unrecordedEdits = 0;
    };
    SavePoint savePoint() const;
    void noteSaved(const SavePoint& written);

    // The page object of the page at `index`; none outside the document or while locked.
    std::optional<platform::PdfPageId> pageId(int index) const;
    // Where a page stands now; none when it is no page of the document any more.
    std::optional<int> pageIndex(platform::PdfPageId page) const;
    // A hash of the page objects in page order: equal only while the same
    // pages stand in the same order. Marks on the pages leave it alone.
    size_t pageSignature() const;
    // A long file opens knowing only its first pages' sizes; every page's
    // object and size are read on a worker a moment after, and pageMapBuilt
    // tells when. Until then, asking for every page (pageSignature, pageId,
    // platform::pageGeometries …) reads them all on the spot.
    bool pageMapReady() const;
    // For tests of what shows before every page is read: the reading waits
    // until released. Called before the event loop runs after opening.
    void holdPageMap() { pageMapHeld_ = true; }
    void releasePageMap();

    // True when the password opened the document. Its pages (and their
    // marks) appear then: every view hears of it as an edit of the whole
    // document, though nothing in the file changed.
    bool unlock(const QString& password);
    // unlock() on a worker, for the window: once opened, a damaged file is
    // read whole and its page tree mended. `done` runs on this thread with
    // the answer, after the document took it; it is dropped when the
    // document goes first. `hook` runs on the worker before the password is
    // tried (tests hold it there).
    void unlockLater(const QString& password, std::function<void(bool opened)> done, std::function<void()> hook = {});
    // The password that unlocked the document, so that a fresh read of the
    // same file (Revert) opens without asking again; none before an unlock.
    const std::optional<QString>& unlockPassword() const { return unlockPassword_; }
    // Still locked while unlockLater's worker runs: the window keeps off a
    // document the worker may hold for long, until the answer comes.
    bool isLocked() const { return unlocksRunning_ > 0 || pdf_->isLocked(); }
    int pageCount() const { return pdf_->pageCount(); }
    // Another program rewrote the file in place since the document read it:
    // its bytes are no longer the document's, and a save is refused.
    bool sourceChanged() const;
    // The first page loads and has a usable size; false without pages or while locked.
    bool firstPageReadable() const;
    // The user agreed that a new file made from this document (Save As, an
    // export) may show less than the damaged original in other programs:
    // asked before the first such file, not again. A fresh read asks anew.
    bool copyLossAccepted() const { return copyLossAccepted_; }
    void acceptCopyLoss() { copyLossAccepted_ = true; }
    // Whether a save would leave pages removed from the document readable in
    // the file: a signed file's save goes after its signed version, which
    // still holds them. Asked before the first such save; once the user
    // saved anyway (acceptKeptPages), not again.
    bool saveKeepsRemovedPages() const { return !keptPagesAccepted_ && pdf_->updateKeepsRemovedPages(); }
    void acceptKeptPages() { keptPagesAccepted_ = true; }

    // The whole PDF as bytes, keeping the file's encryption and leaving out
    // objects nothing refers to (object numbers stay). Throws
    // DocumentError(fileWriteUnknown) when there are no bytes.
    QByteArray snapshot() const;
    // Writes the document to `path` atomically, as it is made (never held
    // whole in memory): the file there is replaced whole or not at all,
    // keeping its owner, group and mode; the document and the file take the
    // time of the save as their modification date.
    // Throws DocumentError with the write code that says why. Safe to call
    // on a worker thread while the UI thread reads the document.
    void writeTo(const ChosenFile& file);

signals:
    // Every edit, after editedPage is set: views redraw from this alone.
    void generationChanged(qint64 generation);
    // An edit of the pages (made, undone or redone), after generationChanged
    // so that every view already shows the pages: the window selects and
    // shows the pages it put in.
    void pagesEdited(const quarnkit::PagesEdit& edit);
    // isEdited changed.
    void editedChanged(bool edited);
    // An undo (`undoing`) or redo of the step named `stepName` failed: the
    // document keeps what it holds and its undo history is cleared.
    void stepFailed(const QString& stepName, bool undoing);
    // Every page's object and size are known (pageMapReady).
    void pageMapBuilt();

private:
    // QuarnKit's own way to the engine's document (DocumentEngine.h).
    friend struct DocumentEngine;
    void mapPagesLater();
    void mapPages();

    std::shared_ptr<platform::PdfDocument> pdf_;
    std::unique_ptr<QUndoStack> undoStack_ = std::make_unique<QUndoStack>();
    qint64 generation_ = 0;
    std::optional<QString> unlockPassword_;
    int unlocksRunning_ = 0; // unlockLater's, not answered yet
    void unlocked(const QString& password);
    std::optional<platform::PdfPageId> editedPage_;
    quint64 unrecordedEdits_ = 0; // counted, never reset
    quint64 savedUnrecordedEdits_ = 0;
    bool edited_ = false; // isEdited as last told by editedChanged
    void updateEdited();
    bool pageMapHeld_ = false;
    bool copyLossAccepted_ = false;
    bool keptPagesAccepted_ = false;
    bool pageMapDue_ = false; // held when its time came
};

} // namespace quarnkit
