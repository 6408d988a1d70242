#pragma once
// The exporter's operations: which pages a scope names, what the files are
// called, new PDFs drawn page by page (flattened or redacted), page subsets,
// text, image files and atomic writes. No state; every operation may run on
// any thread, and none changes the document it reads.
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/PageRender.h"

#include "Platform/FileDescriptor.h"
#include "Platform/FileReplacement.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

namespace platform::PdfWriting {
class FlattenedCopy;
}

namespace quarnkit::Exporter {

// ------------------------------------------------------------ page selection

// The pages of a scope that needs nothing else: the current page (clamped)
// or all pages; empty for the other scopes and for no pages.
std::vector<int> pageIndexes(int count, ExportScope scope, int current);
// The pages the sheet exports. Throws ExportError (empty, noSelection) and,
// for a range, the PageRangeError of the text.
std::vector<int> pages(ExportScope scope, int count, int current, const std::set<int>& selected, const QString& range);

// ------------------------------------------------------------ naming

// The file's name without extension, trimmed; "Untitled" without one.
QString baseName(const std::optional<QString>& filePath);
QString suggestedFileName(const QString& base, ExportFormat format, ExportScope scope);
QString suggestedFileName(const QString& base, ExportFormat format, const std::vector<int>& pages, int count);
// "<base>-<page number>.<ext>", the number zero-padded to the digits of
// `count` (at least two).
QString pageFileName(const QString& base, int index, int count, const QString& ext);

// ------------------------------------------------------------ new PDFs

// The page without alpha, then `overlay` in user space. Throws ExportError.
QImage opaqueBitmap(const platform::PdfDocument& doc, int index, double scale, const Overlay& overlay = {});

// Draws page `index` of the copy's source as a new last page of its target,
// `size` points large.
using PageDrawer = std::function<void(platform::PdfWriting::FlattenedCopy& copy, int index, platform::PdfSize size)>;
using DocumentInfo = std::map<std::string, std::string>; // Info key to text

// A new PDF with one page per listed page that exists, each of the page's
// drawn size, drawn by `drawPage`, with `info` as its Info entries; written
// with garbage collection so that nothing unused of the sources remains.
// Before each page: throws ExportCancelled when a stop was requested, then
// calls `progress` with the position in the list. Throws ExportError
// (renderFailed when no page was drawn) and what `drawPage` throws.
QByteArray renderPDF(const platform::PdfDocument& doc, const std::vector<int>& pages, const DocumentInfo& info,
                     const std::function<void(int)>& progress, const PageDrawer& drawPage, std::stop_token stop = {},
                     const ExportWriteOptions& options = {});
// The same new document before it is written.
std::shared_ptr<platform::PdfDocument> drawPDF(const platform::PdfDocument& doc, const std::vector<int>& pages,
                                               const DocumentInfo& info, const std::function<void(int)>& progress,
                                               const PageDrawer& drawPage, std::stop_token stop = {});
// The document's bytes written with `options`. Throws ExportError (renderFailed).
QByteArray pdfBytes(const platform::PdfDocument& doc, const ExportWriteOptions& options);
// Title, Author, Subject, Keywords and Creator of the document; empty ones left out.
DocumentInfo documentInfo(const platform::PdfDocument& doc);
// The page with its marks and form fields as page content; text stays text.
// A page with redaction marks is drawn as drawRedacted draws it: a black box
// in a flattened copy is taken for removal, so it removes what it covers.
void drawFlattened(platform::PdfWriting::FlattenedCopy& copy, int index, platform::PdfSize size);
// A page without redactions as page content; one with redactions as an image
// of itself at 300 dpi (lower for a page too large for that) with the
// redacted areas black, so nothing under them survives. Throws ExportError.
void drawRedacted(platform::PdfWriting::FlattenedCopy& copy, int index, platform::PdfSize size);

// ------------------------------------------------------------ documents, text, images

// The document itself when `pages` is all of its pages in order; otherwise a
// new document of copies of the listed pages that exist, with their marks,
// form fields and the source's document attributes. A signature does not
// hold in such a copy: how many were left behind goes to `signaturesLeft`.
std::shared_ptr<platform::PdfDocument> subset(const std::shared_ptr<platform::PdfDocument>& doc,
                                              const std::vector<int>& pages, int* signaturesLeft = nullptr);
// The bytes of the listed pages, flattened or as they are. Throws ExportError.
QByteArray pdfData(const std::shared_ptr<platform::PdfDocument>& doc, const std::vector<int>& pages, bool flatten,
                   const ExportWriteOptions& options = {});
// The pages' text; with more than one page each under a "Page N" heading.
QString text(const platform::PdfDocument& doc, const std::vector<int>& pages);
// The text with its ligature characters ("ﬁ", "ﬃ", …) written as their
// letters, so that a search of the exported words finds them.
QString expandedLigatures(const QString& text);
// The images as one file of the format: PNG and JPEG hold one image, TIFF
// any number. A resolution of none or 0 writes none; JPEG quality is clamped
// to 0.1…1. Throws ExportError (empty, renderFailed).
QByteArray encode(const std::vector<QImage>& images, ExportFormat format, std::optional<int> dpi, double quality);
// The listed pages that exist, rendered at `scale` and encoded as one file.
QByteArray imageData(const platform::PdfDocument& doc, const std::vector<int>& pages, ExportFormat format, double scale,
                     double quality);

// ------------------------------------------------------------ files

// Writes the bytes as a save writes a document (platform::replaceFileContents)
// into the file its question saw: a new file beside it, flushed, then put in
// place of the file the question saw there (or where nothing was), keeping
// its mode, never through another user's link. Throws
// ExportError::cannotWrite naming the file.
void writeFile(const QByteArray& data, const platform::ChosenFile& file);
// The same with the contents made as they are written (`write` fills the
// empty file open at its descriptor); what `write` throws passes on.
void writeFile(const platform::ChosenFile& file, const platform::ContentsWriter& write);
// Writes PDF bytes a save made and read back (pdfBytes) as writeFile does,
// and reads the file back before it replaces anything: it must hold those
// very bytes (platform::checkFileHolds). Throws ExportError::cannotWrite.
void writePdfFile(const QByteArray& data, const platform::ChosenFile& file);

// The file at `path` the user chose for an export, Print to a file or
// Extract Pages, as quarnkit::chooseFile makes it: `question` is asked about
// a file or a link at the name; none when the user declined. Throws
// ExportError::cannotWrite naming the file, with the reason a write there
// would fail for (saveFailureReason).
std::optional<platform::ChosenFile> chooseFile(const QString& path, const ReplaceQuestion& question);

// A folder held open, and its path for what is shown.
struct HeldFolder {
    platform::FileDescriptor fd; // O_PATH
    QString path;
};
// The folder the user chose to put new files in, walked to once as a writer
// walks (platform::ChosenFile): what is made in it is made through this
// opening. Throws ExportError::cannotWrite naming it.
HeldFolder chosenFolder(const QString& path);

// A new folder for an export's temporary output on the volume of `beside`,
// so that the last move is a rename: in the user's private folder when that
// is on the same volume, else a hidden one in `beside`. It removes only what
// it made, through the descriptors it made it with: the files and folders it
// made that are still in it, then itself, only while its name still leads
// to it (another user may rename what is in `beside`). Throws FileSystemError.
class WorkFolder {
public:
    explicit WorkFolder(const HeldFolder& beside);
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;
    int fd() const { return fd_.fd; }
    const QString& path() const { return path_; }
    // Makes the folder `name` in `in` (this one, or a folder made here) and
    // holds it: its descriptor (O_PATH). Throws FileSystemError.
    int makeFolder(int in, const std::string& name);
    // Writes `bytes` as the new file `name` in `in` (a folder made here),
    // synced. Throws ExportError::cannotWrite naming it.
    void writeNewFile(int in, const std::string& name, const QByteArray& bytes);
    // Moves the folder `name` made in `in` to `to`'s `newName`, where there is
    // nothing (renameat2 RENAME_NOREPLACE); 0 or the errno. Moved, it and
    // what it holds are no longer removed. It and its files take first what
    // being made in `to` would have given them: in a setgid folder (a
    // team's), its group, and the folder the setgid bit. Where the file
    // system cannot rename so, `newName` is taken by a new folder, and `name`
    // is renamed onto it.
    int moveOut(int in, const std::string& name, int to, const std::string& newName);
    // Removes what it made; false when its name no longer led to it, so that
    // it stays, empty, wherever it is now. At most once (the destructor then does nothing).
    bool remove();

private:
    int moveInto(int in, const std::string& name, int to, const std::string& newName);
    void takeGroupOf(int to, int folder);
    struct Made {
        int in; // the folder it was made in, held below
        std::string name;
        platform::FileIdentity identity;
        bool folder;
        int held = -1; // a folder's own, held below
    };
    platform::FileDescriptor parent_;
    std::string name_;
    platform::FileDescriptor fd_;
    QString path_;
    std::vector<Made> made_;
    std::vector<platform::FileDescriptor> held_; // the folders made here
    bool removed_ = false;
};

// `name`, or "name 2", "name 3", … whichever nothing in the folder open at
// `folder` is called. Creates nothing.
QString freeFolderName(int folder, const QString& name);

} // namespace quarnkit::Exporter
