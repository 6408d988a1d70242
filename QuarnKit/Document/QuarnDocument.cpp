#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Document/SaveRefusal.h"
#include "QuarnKit/Shell/DroppableWork.h"

#include "Platform/FileReplacement.h"
#include "Platform/PdfPageGeometries.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Document/NativePaths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <functional>
#include <new>
#include <thread>
#include <utility>

#include <sys/stat.h>

namespace quarnkit {

namespace {

// Reads the rest of a file just opened on a worker, then calls `whenRead`
// there. Short slices, each under the document's lock with a pause between
// them, let renders and the UI thread have it in turn; the reading stops
// when the document is gone.
void readRest(const std::weak_ptr<platform::PdfDocument>& weak,
              std::function<void(const platform::PdfDocument&)> whenRead)
{
    DroppableWork::shared().start([weak, whenRead = std::move(whenRead)] {
        while (!DroppableWork::shared().stopping()) {
            const auto document = weak.lock();
            if (!document) return;
            if (document->settle(250)) {
                if (whenRead) whenRead(*document);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
}

// Not before the first page has had time to render: reading the file
// competes with it for the engine's allocator and the document's lock.
constexpr int kReadRestDelayMs = 250;

void readRestLater(const std::shared_ptr<platform::PdfDocument>& pdf)
{
    QTimer::singleShot(kReadRestDelayMs, [weak = std::weak_ptr<platform::PdfDocument>(pdf)] { readRest(weak, {}); });
}

} // namespace

namespace {

std::string withReason(const char* sentence, const std::string& reason)
{
    return reason.empty() ? std::string(sentence) : std::string(sentence) + " (" + reason + ")";
}

} // namespace

DocumentError::DocumentError(Code code, std::string reason)
    : std::runtime_error(withReason(message(code), reason)), code_(code), reason_(std::move(reason))
{}

DocumentError::DocumentError(Code code, std::string reason, std::optional<QString> sentence)
    : DocumentError(code, std::move(reason))
{
    sentence_ = std::move(sentence);
}

const char* DocumentError::message(Code code)
{
    switch (code) {
    case Code::fileReadCorruptFile: return "The file couldn't be opened because it isn't in the correct format.";
    case Code::fileReadNoSuchFile: return "The file couldn't be opened because there is no such file.";
    case Code::fileReadIsFolder: return "The file couldn't be opened because it is a folder, not a PDF.";
    case Code::fileReadNoPermission: return "The file couldn't be opened because you don't have permission to read it.";
    case Code::fileWriteUnknown: return "The file couldn't be saved.";
    case Code::fileWriteTooLarge: return "The file would be larger than this system lets ravlen write.";
    case Code::fileWriteOutOfSpace: return "The disk is full.";
    case Code::fileWriteNoPermission: return "You don't have permission to save there.";
    case Code::fileWriteVolumeReadOnly: return "That disk is read only.";
    case Code::fileWriteDamagedSinceOpen:
        return "ravlen found damage in this PDF after opening it, and saving it now could lose changes. Nothing was "
               "written.";
    case Code::fileWriteRepairedFile:
        return "ravlen had to repair this PDF to open it, and saving over it could lose parts that other programs can "
               "still read. A new file keeps your changes but may show less of it in other programs; the original "
               "stays as it is.";
    case Code::fileWriteUnreadablePages:
        return "Some pages of this PDF are damaged and could not be read, so saving would leave them out. Nothing was "
               "written.";
    case Code::fileWriteNoPages:
        return "This PDF has no pages, and ravlen doesn't save a PDF without pages because many programs can't open "
               "one. Add a page from the Pages menu first. Nothing was written.";
    case Code::fileWriteDamagedContent:
        return "ravlen couldn't write this PDF because part of it is damaged. Nothing was written.";
    case Code::fileWriteUnparsedObjects:
        return "Part of this PDF is damaged: some of its objects, such as a font or a page's resources, can't be read "
               "by ravlen, and saving over the file would leave them out although other programs may still show "
               "them. A new file leaves them out too; the original stays as it is.";
    case Code::fileWriteNamesTooLong:
        return "This PDF names some of its parts (such as fonts) with names longer than ravlen can keep. ravlen saves "
               "your changes after the end of the file, which leaves those names as they are, but this would have to "
               "write anew a part that uses one, and other programs would then lose what it names. Nothing was "
               "written.";
    case Code::fileWriteForeignLink:
        return "That name is a link another person made, and it could lead to any of your files. ravlen doesn't "
               "save through it: nothing was written.";
    case Code::fileWriteForeignFile:
        return "That name is a file another person could have put there for you to write into. ravlen doesn't "
               "save into it: nothing was written. Choose another name or folder.";
    case Code::fileWriteUnopenableCopy:
        return "ravlen couldn't write a copy of this PDF that opens with its password. Nothing was written.";
    case Code::fileWriteCopyShowsLess:
        return "ravlen had to repair this PDF, or can't read some of its objects (such as a font or a page's "
               "resources), so the new file may show less of it in other programs than the original does. The "
               "original stays as it is.";
    case Code::fileWriteUnfaithfulCopy:
        return "ravlen read the new file back before putting it in place, and it did not read as your document: "
               "other programs would show it otherwise. Nothing was written; the file stays as it was.";
    case Code::fileWriteUnverifiedCopy:
        return "ravlen couldn't read the new file back to check it, so it didn't put it in place. Nothing was "
               "written; the file stays as it was. Try again in a moment: the computer may have been too busy.";
    case Code::fileWriteSignedRewrite:
        return "This PDF is signed, and ravlen can't add your changes after the signed part of the file, which is "
               "what keeps a signature valid: saving over it would write it anew and make its signature invalid. In a "
               "new file its signature won't be valid either; the original stays as it is.";
    case Code::fileWriteChangedByWrite:
        return "Writing this PDF changed ravlen's reading of it, so nothing was written. ravlen put the document back "
               "as it was before, with your changes; a new file keeps them, but may show less of the original in other "
               "programs.";
    case Code::fileWriteUnrestored:
        return "Writing this PDF changed ravlen's reading of it, and ravlen could not put it back as it was, so it "
               "writes no PDF from it. Nothing was written.";
    case Code::fileWriteSourceChanged:
        return "Another program changed this PDF while ravlen had it open, so ravlen can no longer read all of it and "
               "cannot save your version. Nothing was written: the file stays as the other program left it.";
    case Code::fileWriteFileReplaced:
        return "Another program put a different file at this PDF's name while it was open. Nothing was written.";
    }
    return "";
}

std::optional<QString> DocumentError::foreignNameRefusal(const std::exception& error)
{
    if (const auto* refused = dynamic_cast<const platform::ForeignName*>(&error)) {
        const QString name = QString::fromStdString(refused->name());
        switch (refused->use()) {
        case platform::NameUse::use: break;
        case platform::NameUse::foreignLink:
            // The file it leads to is named: the user may not know the link is there.
            if (!refused->leadsTo().empty())
                return QStringLiteral("%1 is a link another person made or could have put there, which leads to %2; "
                                      "ravlen doesn't save through it.")
                    .arg(name, QString::fromStdString(refused->leadsTo()));
            return QStringLiteral("%1 is a link another person made or could have put there; ravlen doesn't save "
                                  "through it.")
                .arg(name);
        case platform::NameUse::foreignFile:
            return QStringLiteral("%1 is another person's file in a folder others can write to; ravlen doesn't save "
                                  "into it.")
                .arg(name);
        case platform::NameUse::foreignSecondName:
            return QStringLiteral("%1 is a second name of a file, in a folder where another person can make names; "
                                  "ravlen doesn't save into it.")
                .arg(name);
        case platform::NameUse::foreignFolder:
            return QStringLiteral("%1 is in a folder another person owns, who could have given one of your files "
                                  "that name; ravlen doesn't save into it.")
                .arg(name);
        }
    }
    const auto* engine = dynamic_cast<const platform::PdfError*>(&error);
    if (!engine) return std::nullopt;
    if (engine->code() == platform::PdfErrorCode::foreignLink)
        return QString::fromUtf8(message(Code::fileWriteForeignLink));
    if (engine->code() == platform::PdfErrorCode::foreignFile)
        return QString::fromUtf8(message(Code::fileWriteForeignFile));
    return std::nullopt;
}

std::optional<QString> DocumentError::readBackRefusal(const std::exception& error)
{
    const auto* engine = dynamic_cast<const platform::PdfError*>(&error);
    if (!engine) return std::nullopt;
    switch (engine->code()) {
    case platform::PdfErrorCode::unfaithfulCopy: return QString::fromUtf8(message(Code::fileWriteUnfaithfulCopy));
    case platform::PdfErrorCode::unverifiedCopy: return QString::fromUtf8(message(Code::fileWriteUnverifiedCopy));
    case platform::PdfErrorCode::unopenableCopy: return QString::fromUtf8(message(Code::fileWriteUnopenableCopy));
    case platform::PdfErrorCode::namesTooLong: return QString::fromUtf8(message(Code::fileWriteNamesTooLong));
    case platform::PdfErrorCode::changedByWrite: return QString::fromUtf8(message(Code::fileWriteChangedByWrite));
    case platform::PdfErrorCode::writeUnrestored: return QString::fromUtf8(message(Code::fileWriteUnrestored));
    default: return std::nullopt;
    }
}

DocumentError DocumentError::outOfMemory()
{
    return DocumentError(Code::fileWriteUnknown, "out of memory",
                         QStringLiteral("There isn't enough memory to save it now. Close some documents or other "
                                        "programs, then try again."));
}

QString DocumentError::sentence() const { return sentence_ ? *sentence_ : QString::fromUtf8(message(code_)); }

namespace {

DocumentError readError(const platform::PdfError& error)
{
    using platform::PdfErrorCode;
    switch (error.code()) {
    case PdfErrorCode::missingFile: return DocumentError(DocumentError::Code::fileReadNoSuchFile, error.what());
    case PdfErrorCode::folder: return DocumentError(DocumentError::Code::fileReadIsFolder, error.what());
    case PdfErrorCode::unreadable: return DocumentError(DocumentError::Code::fileReadNoPermission, error.what());
    default: return DocumentError(DocumentError::Code::fileReadCorruptFile, error.what());
    }
}

DocumentError writeError(const platform::PdfError& error)
{
    using Code = DocumentError::Code;
    using platform::PdfErrorCode;
    switch (error.code()) {
    case PdfErrorCode::changedSinceOpen: return DocumentError(Code::fileWriteDamagedSinceOpen, error.what());
    case PdfErrorCode::repairedFile: return DocumentError(Code::fileWriteRepairedFile, error.what());
    case PdfErrorCode::unreadablePages: return DocumentError(Code::fileWriteUnreadablePages, error.what());
    case PdfErrorCode::noPages: return DocumentError(Code::fileWriteNoPages, error.what());
    case PdfErrorCode::sourceChanged: return DocumentError(Code::fileWriteSourceChanged, error.what());
    case PdfErrorCode::unparsedObjects: return DocumentError(Code::fileWriteUnparsedObjects, error.what());
    case PdfErrorCode::namesTooLong: return DocumentError(Code::fileWriteNamesTooLong, error.what());
    case PdfErrorCode::foreignLink:
    case PdfErrorCode::foreignFile:
        return DocumentError(error.code() == PdfErrorCode::foreignLink ? Code::fileWriteForeignLink
                                                                       : Code::fileWriteForeignFile,
                             error.what(), DocumentError::foreignNameRefusal(error));
    case PdfErrorCode::unopenableCopy: return DocumentError(Code::fileWriteUnopenableCopy, error.what());
    case PdfErrorCode::lossyCopy: return DocumentError(Code::fileWriteCopyShowsLess, error.what());
    case PdfErrorCode::fileReplaced: return DocumentError(Code::fileWriteFileReplaced, error.what());
    case PdfErrorCode::unfaithfulCopy: return DocumentError(Code::fileWriteUnfaithfulCopy, error.what());
    case PdfErrorCode::unverifiedCopy:
        // Memory ran out while checking: the user is told so, not to wait for a busy machine.
        if (error.systemError() == ENOMEM) return DocumentError::outOfMemory();
        return DocumentError(Code::fileWriteUnverifiedCopy, error.what());
    case PdfErrorCode::signedRewrite: return DocumentError(Code::fileWriteSignedRewrite, error.what());
    case PdfErrorCode::changedByWrite: return DocumentError(Code::fileWriteChangedByWrite, error.what());
    case PdfErrorCode::writeUnrestored: return DocumentError(Code::fileWriteUnrestored, error.what());
    default: break;
    }
    switch (error.systemError()) {
    case ENOMEM: return DocumentError::outOfMemory();
    case EPERM:
    case EACCES: return DocumentError(Code::fileWriteNoPermission, error.what());
    case ENOSPC:
    case EDQUOT: return DocumentError(Code::fileWriteOutOfSpace, error.what());
    case EROFS: return DocumentError(Code::fileWriteVolumeReadOnly, error.what());
    case EFBIG: return DocumentError(Code::fileWriteTooLarge, error.what());
    case 0:
        // No file operation failed: the engine could not write the document's objects.
        if (error.code() == PdfErrorCode::general || error.code() == PdfErrorCode::damaged)
            return DocumentError(Code::fileWriteDamagedContent, error.what());
        return DocumentError(Code::fileWriteUnknown, error.what());
    default: return DocumentError(Code::fileWriteUnknown, error.what());
    }
}

void undoQuietly(const std::optional<ModificationStamp>& stamp, platform::PdfDocument& pdf)
{
    if (!stamp) return;
    try {
        stamp->undo(pdf);
    } catch (const std::exception&) {
        // The old date stays overwritten; the document is no worse for it.
    }
}

platform::PdfSaveOptions fileSaveOptions(bool lossAccepted = true, bool unverifiedAccepted = false)
{
    platform::PdfSaveOptions options;
    options.lossAccepted = lossAccepted;
    options.unverifiedAccepted = unverifiedAccepted;
    // What nothing refers to (a deleted mark) stays out of the file; object
    // numbers stay, so undo steps still find their objects after a save.
    options.garbageCollect = true;
    return options;
}

} // namespace

QuarnDocument::QuarnDocument(QObject* parent) : QObject(parent), pdf_(platform::PdfDocument::createBlank(612, 792))
{
    connect(undoStack_.get(), &QUndoStack::cleanChanged, this, &QuarnDocument::updateEdited);
}

QuarnDocument::QuarnDocument(std::shared_ptr<platform::PdfDocument> pdf, QObject* parent)
    : QObject(parent), pdf_(std::move(pdf))
{
    if (!pdf_) pdf_ = platform::PdfDocument::createEmpty();
    if (!platform::pagesMapped(*pdf_)) mapPagesLater();
    connect(undoStack_.get(), &QUndoStack::cleanChanged, this, &QuarnDocument::updateEdited);
}

QuarnDocument::~QuarnDocument()
{
    // The stack's steps go with the document, and nobody hears of it: a
    // window that watches the stack may be half gone itself by now.
    undoStack_->blockSignals(true);
    pdf_->stopPageWork();
}

void QuarnDocument::mapPagesLater()
{
    QTimer::singleShot(kReadRestDelayMs, this, [this] {
        if (pageMapHeld_) pageMapDue_ = true;
        else mapPages();
    });
}

void QuarnDocument::releasePageMap()
{
    pageMapHeld_ = false;
    if (std::exchange(pageMapDue_, false)) mapPages();
}

void QuarnDocument::mapPages()
{
    // Reading the file first makes the map itself quick, so that it holds
    // the document only briefly.
    readRest(pdf_, [self = QPointer(this)](const platform::PdfDocument& document) {
        platform::mapPages(document);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self) emit self->pageMapBuilt();
            },
            Qt::QueuedConnection);
    });
}

bool QuarnDocument::pageMapReady() const { return platform::pagesMapped(*pdf_); }

QuarnDocument::QuarnDocument(Parsed parsed, QObject* parent) : QuarnDocument(std::move(parsed.pdf_), parent) {}

std::unique_ptr<QuarnDocument> QuarnDocument::open(const QString& path)
{
    return std::make_unique<QuarnDocument>(read(path));
}

QuarnDocument::Parsed QuarnDocument::read(const QString& path)
{
    try {
        return Parsed(platform::PdfDocument::openFile(nativePath(path).toStdString()));
    } catch (const platform::PdfError& error) {
        throw readError(error);
    } catch (const std::exception& error) {
        // A file that asks for more memory than there is (std::bad_alloc) must
        // not end the process and every window in it.
        throw DocumentError(DocumentError::Code::fileReadCorruptFile, error.what());
    }
}

std::unique_ptr<QuarnDocument> QuarnDocument::fromData(const QByteArray& bytes)
{
    try {
        return std::make_unique<QuarnDocument>(platform::PdfDocument::openBytes(bytes));
    } catch (const platform::PdfError& error) {
        throw readError(error);
    } catch (const std::exception& error) {
        throw DocumentError(DocumentError::Code::fileReadCorruptFile, error.what());
    }
}

void QuarnDocument::noteEdit(std::optional<platform::PdfPageId> page)
{
    editedPage_ = page;
    ++generation_;
    emit generationChanged(generation_);
}

void QuarnDocument::noteEditOfPage(int index) { noteEdit(pageId(index)); }

void QuarnDocument::noteUnrecordedEdit(std::optional<platform::PdfPageId> page)
{
    noteEdit(page);
    ++unrecordedEdits_;
    updateEdited();
}

void QuarnDocument::notePagesEdit(const PagesEdit& edit)
{
    noteEdit(std::nullopt);
    emit pagesEdited(edit);
}

bool QuarnDocument::isEdited() const { return !undoStack_->isClean() || unrecordedEdits_ != savedUnrecordedEdits_; }

QuarnDocument::SavePoint QuarnDocument::savePoint() const { return {undoStack_->index(), unrecordedEdits_}; }

void QuarnDocument::noteSaved(const SavePoint& written)
{
    // Steps pushed or undone while the file was written are not in it: no
    // step of the stack matches the file then.
    if (undoStack_->index() == written.stackIndex) undoStack_->setClean();
    else undoStack_->resetClean();
    savedUnrecordedEdits_ = written.unrecordedEdits;
    updateEdited();
}

void QuarnDocument::updateEdited()
{
    const bool edited = isEdited();
    if (edited == edited_) return;
    edited_ = edited;
    emit editedChanged(edited);
}

std::optional<int> QuarnDocument::editedPageIndex() const
{
    return editedPage_ ? pageIndex(*editedPage_) : std::nullopt;
}

std::optional<platform::PdfPageId> QuarnDocument::pageId(int index) const
{
    if (isLocked() || index < 0) return std::nullopt;
    try {
        return platform::pageId(*pdf_, index);
    } catch (const platform::PdfError&) {
        return std::nullopt;
    }
}

std::optional<int> QuarnDocument::pageIndex(platform::PdfPageId page) const
{
    try {
        return platform::pageIndex(*pdf_, page);
    } catch (const platform::PdfError&) {
        return std::nullopt;
    }
}

size_t QuarnDocument::pageSignature() const
{
    std::vector<platform::PdfPageId> pages;
    try {
        pages = platform::pageIds(*pdf_);
    } catch (const platform::PdfError&) {}
    size_t seed = std::hash<size_t>{}(pages.size());
    const auto mix = [&seed](size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    for (const platform::PdfPageId& page : pages) {
        mix(std::hash<int>{}(page.object));
        mix(std::hash<int>{}(page.generation));
    }
    return seed;
}

bool QuarnDocument::unlock(const QString& password)
{
    if (!pdf_->unlock(password.toStdString())) return false;
    unlocked(password);
    return true;
}

void QuarnDocument::unlockLater(const QString& password, std::function<void(bool)> done, std::function<void()> hook)
{
    ++unlocksRunning_;
    // Only this shared pointer crosses threads; what it holds is used on this thread alone.
    auto answer = std::make_shared<std::function<void(bool)>>(
        [self = QPointer<QuarnDocument>(this), password, done = std::move(done)](bool opened) {
            if (!self) return;
            --self->unlocksRunning_;
            if (opened) self->unlocked(password);
            if (done) done(opened);
        });
    // The worker keeps the PDF it reads, so the document may go meanwhile.
    // The user waits at the gate: ahead of the thumbnails and lists queued.
    DroppableWork::shared().start(
        [pdf = pdf_, secret = password.toStdString(), answer = std::move(answer), hook = std::move(hook)]() mutable {
            if (hook) hook();
            const bool opened = pdf->unlock(secret);
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [answer = std::move(answer), opened] { (*answer)(opened); },
                Qt::QueuedConnection);
        },
        1);
}

void QuarnDocument::unlocked(const QString& password)
{
    unlockPassword_ = password;
    settleInBackground(pdf_); // the file is read only now
    noteEdit(std::nullopt);
}

bool QuarnDocument::sourceChanged() const { return pdf_->sourceChanged(); }

bool QuarnDocument::firstPageReadable() const
{
    if (isLocked() || pdf_->pageCount() < 1) return false;
    try {
        const platform::PdfPageGeometry geometry = pdf_->pageGeometry(0);
        return geometry.displaySize.width > 0 && geometry.displaySize.height > 0;
    } catch (const platform::PdfError&) {
        return false;
    }
}

QByteArray QuarnDocument::snapshot() const { return snapshotOf(*pdf_); }

QByteArray snapshotOf(const platform::PdfDocument& pdf)
{
    // The default options keep the file's encryption, so an unlocked
    // password-protected PDF is never written out without its password.
    try {
        QByteArray bytes = pdf.save(fileSaveOptions());
        if (bytes.isEmpty()) throw DocumentError(DocumentError::Code::fileWriteUnknown, "no data");
        return bytes;
    } catch (const platform::PdfError& error) {
        throw writeError(error);
    }
}

void QuarnDocument::writeTo(const ChosenFile& file) { writeDocumentFile(*pdf_, file); }

std::optional<ChosenFile> chooseFile(const QString& path, const ReplaceQuestion& question)
{
    try {
        return ChosenFile::ask(nativePath(path).toStdString(), [&](const platform::NameSeen& seen) {
            return question
                   && question(QFileInfo(path).fileName(),
                               seen.link ? QFile::decodeName(QByteArray::fromStdString(seen.leadsTo)) : QString());
        });
    } catch (const platform::PdfError& error) {
        throw writeError(error);
    }
}

ChosenFile documentFile(const QuarnDocument& document, const QString& path, std::optional<FileKey> meant)
{
    std::optional<FileKey> own = meant;
    if (const auto file = pdfOf(document)->ownFile(); !own && file) own = FileKey(file->first, file->second);
    try {
        return ChosenFile::expecting(nativePath(path).toStdString(),
                                     own ? platform::FileIdentity{dev_t(own->first), ino_t(own->second)}
                                         : platform::FileIdentity{});
    } catch (const platform::PdfError& error) {
        throw writeError(error);
    }
}

bool copyNeedsLossQuestion(const platform::PdfDocument& pdf, bool lossAccepted)
{
    return !lossAccepted && !pdf.isLocked() && pdf.newCopyShowsLess();
}

QString chosenPath(const ChosenFile& file) { return QFile::decodeName(QByteArray::fromStdString(file.chosenPath())); }

void settleInBackground(const std::shared_ptr<platform::PdfDocument>& pdf)
{
    // A long file whose pages are still to be mapped is being read already.
    if (platform::pagesMapped(*pdf)) readRestLater(pdf);
}

void settleInBackground(const QuarnDocument& document) { settleInBackground(pdfOf(document)); }

namespace {

// `refusal`, of this file alone before anything was written, offers a new
// file: the new file is written into memory first, as Save As would write it
// once the user accepted that it may show less. Where that fails too, for a
// cause every file meets, the refusal is that cause, and offers what still
// works.
DocumentError offeringWhatWorks(platform::PdfDocument& pdf, DocumentError refusal)
{
    using Code = DocumentError::Code;
    if (refusal.code() != Code::fileWriteRepairedFile && refusal.code() != Code::fileWriteUnparsedObjects)
        return refusal;
    try {
        (void)pdf.save(fileSaveOptions());
    } catch (const platform::PdfError& error) {
        DocumentError everyFile = writeError(error);
        if (!saveRemedies(everyFile.code()).saveAs) return everyFile;
    } catch (const std::bad_alloc&) {
        // Untried: the refusal stands.
    }
    return refusal;
}

} // namespace

void writeDocumentFile(platform::PdfDocument& pdf, const ChosenFile& file, bool lossAccepted, bool unverifiedAccepted,
                       const std::function<void(int fd)>& beforeReadBack)
{
    // saveToFile writes a temporary file beside the target and renames it,
    // complete and flushed, over the target, so a failure or a crash at any
    // point leaves the user's file as it was. The file says when it was saved; a
    // save that fails takes that back.
    std::optional<ModificationStamp> stamp;
    try {
        if (!pdf.isLocked()) stamp = ModificationStamp::write(pdf, QDateTime::currentDateTime());
        platform::PdfSaveOptions options = fileSaveOptions(lossAccepted, unverifiedAccepted);
        options.beforeReadBack = beforeReadBack;
        pdf.saveToFile(file, options);
    } catch (const platform::PdfError& error) {
        undoQuietly(stamp, pdf);
        throw offeringWhatWorks(pdf, writeError(error));
    } catch (const std::bad_alloc&) {
        undoQuietly(stamp, pdf);
        throw DocumentError::outOfMemory();
    }
}

} // namespace quarnkit
