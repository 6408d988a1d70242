#pragma once
// One export from start to finish: checks the document, settles the pages,
// runs the format's pipeline and writes a new file or folder. It runs on the
// calling thread, on a private copy of the document; the open document is
// never touched.
#include "QuarnKit/Document/HeldDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Export/ExportSettings.h"
#include "QuarnKit/Export/Exporter.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace quarnkit {

namespace ExportSnapshot {
// The bytes of the job's private copy of `doc`, without encryption; empty
// for a locked document or one that cannot be written. Throws
// ExportError(notFaithful) when the copy, read back, would not be the
// document (or could not be checked): nothing is exported then. Names
// longer than the engine keeps refuse only a `format` that writes a PDF:
// images and text are drawn from the engine's reading alike. Unless
// `lossAccepted`, a `format` that writes a PDF of a document that, written
// anew, may show less than its file in other programs (the file had to be
// repaired, or objects it uses could not be read) throws
// ExportError(mayShowLess), for the user to say whether to export it.
// A `format` that shows the pages only as drawn (images, Flattened PDF)
// takes, where no PDF written from the document reads back as it, the pages
// as ravlen draws them in a new document.
QByteArray data(const platform::PdfDocument& doc, ExportFormat format = ExportFormat::pdf, bool lossAccepted = true);
QByteArray data(const HeldDocument& held, ExportFormat format = ExportFormat::pdf, bool lossAccepted = true);
} // namespace ExportSnapshot

// Where an export goes, as its question saw it: the file, with what it
// replaces (or that nothing was there), or for a folder of pages
// (ExportSettings::writesFolder) the folder chosen to make it in, held.
class ExportDestination {
public:
    // The destination the user chose at `path`: for a folder of pages the
    // folder there; else the file there, once `question` agreed to write
    // over a file or a link at the name (it is given the name and, for a
    // link, the file it leads to). None when the user declined. Throws
    // ExportError::cannotWrite when the path cannot be written.
    static std::optional<ExportDestination> choose(const ExportSettings& settings, const QString& path,
                                                   const ReplaceQuestion& question);
    // The path as chosen.
    const QString& path() const { return path_; }
    // The file; none for a folder of pages.
    const std::optional<platform::ChosenFile>& file() const { return file_; }
    // The folder; none for a file.
    const std::shared_ptr<const Exporter::HeldFolder>& folder() const { return folder_; }

private:
    ExportDestination() = default;
    QString path_;
    std::optional<platform::ChosenFile> file_;
    std::shared_ptr<const Exporter::HeldFolder> folder_;
};

namespace ExportJob {

using Progress = std::function<void(const ExportStep&)>;
// Reads the text of a page that has none of its own; throws when it cannot.
using Recognizer = std::function<QString(const platform::PdfDocument&, int page)>;

// Writes the export to `destination` (for several PNG or JPEG pages: the
// folder in which the export's own folder is made) and reports what it did.
// A destination of the other kind (a file for a folder of pages) throws
// ExportError(writeFailed).
// Throws ExportError (renderFailed for any failure of the PDF engine),
// ExportCancelled when `stop` was requested (at the next page or step), or
// FileSystemError when no work folder can be made.
// `recognize` defaults to the text recognizer.
ExportReport run(const ExportSettings& settings, const std::shared_ptr<platform::PdfDocument>& source,
                 const ExportDestination& destination, const Progress& progress, std::stop_token stop = {},
                 const Recognizer& recognize = {});
// The same on ExportSnapshot's bytes: a PDF that cannot be read or handled
// throws ExportError (unreadable).
ExportReport run(const ExportSettings& settings, const QByteArray& snapshot, const ExportDestination& destination,
                 const Progress& progress, std::stop_token stop = {});

} // namespace ExportJob

} // namespace quarnkit
