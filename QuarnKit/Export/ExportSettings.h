#pragma once
// What an export is asked to do, how far it has come, what it produced and
// how it fails. Plain values: the export sheet builds them on the UI thread,
// the export job reads them on its worker.
#include "Platform/PdfDocument.h"

#include <QString>

#include <array>
#include <exception>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace quarnkit {

enum class ExportFormat { pdf, flattenedPDF, redactedPDF, smallerPDF, png, jpeg, tiff, text, marksSummary };

inline constexpr std::array<ExportFormat, 9> allExportFormats{
    ExportFormat::pdf,        ExportFormat::flattenedPDF, ExportFormat::redactedPDF,
    ExportFormat::smallerPDF, ExportFormat::png,          ExportFormat::jpeg,
    ExportFormat::tiff,       ExportFormat::text,         ExportFormat::marksSummary};

enum class ExportScope { thisPage, allPages, selectedPages, range };

inline constexpr std::array<ExportScope, 4> allExportScopes{ExportScope::thisPage, ExportScope::allPages,
                                                            ExportScope::selectedPages, ExportScope::range};

namespace ExportFormats {
QString rawValue(ExportFormat format); // "pdf", "flattenedPDF", …
std::optional<ExportFormat> fromRaw(const QString& raw);
QString title(ExportFormat format);
QString detail(ExportFormat format);        // the line on the format's card
QString fileExtension(ExportFormat format); // without the dot
QString mimeType(ExportFormat format);
// The file dialog's filter, "TIFF image (*.tiff *.tif)": the format's own
// extension first, so that a proposed name keeps it.
QString nameFilter(ExportFormat format);
bool isPDF(ExportFormat format);
bool isImage(ExportFormat format);
bool writesDirectory(ExportFormat format); // one image file per page
} // namespace ExportFormats

namespace ExportScopes {
QString rawValue(ExportScope scope);
std::optional<ExportScope> fromRaw(const QString& raw);
QString title(ExportScope scope);
} // namespace ExportScopes

// What the PDF writer is told for a protected or searchable PDF export.
struct ExportWriteOptions {
    std::optional<std::string> ownerPassword;
    std::optional<std::string> userPassword;
    // Set with an edit password: what a reader of the file may still do.
    std::optional<platform::PdfPermissions> permissions;
    bool textFromRecognition = false; // add a text layer from text recognition

    bool isEmpty() const { return !ownerPassword && !userPassword && !permissions && !textFromRecognition; }
    // The save options for writing a new file with these settings: AES-256
    // with a password, no encryption without.
    platform::PdfSaveOptions saveOptions() const;
    friend bool operator==(const ExportWriteOptions&, const ExportWriteOptions&) = default;
};

struct ExportSettings {
    ExportFormat format = ExportFormat::pdf;
    std::vector<int> pages; // 0-based, in export order
    QString baseName;       // file or folder name without extension; the summary's title
    int dpi = 150;
    double jpegQuality = 0.85; // meaningful from 0.1 to 1
    QString openPassword;      // empty: none
    QString editPassword;      // empty: none
    bool makeSearchable = false;

    static constexpr std::array<int, 3> resolutions{72, 150, 300};
    static constexpr int redactionDPI = 300;

    // Rendering scale: a resolution below 36 dpi renders at 36.
    double scale() const;
    // Several pages as PNG or JPEG go into a folder, one file each.
    bool writesFolder() const;
    bool isProtected() const;
    // Empty for formats that are no PDF.
    ExportWriteOptions writeOptions() const;

    friend bool operator==(const ExportSettings&, const ExportSettings&) = default;
};

struct ExportStep {
    enum class Kind { rendering, recognizing, compressing, saving };
    Kind kind = Kind::saving;
    int done = 0;  // steps finished
    int total = 0; // steps in all

    // The step shown before the job reports anything.
    static ExportStep first(const ExportSettings& settings);
    // Rendering and recognizing with a total: done / total in 0…1.
    std::optional<double> fraction() const;
    QString label() const; // "Page 2 of 5", …

    friend bool operator==(const ExportStep&, const ExportStep&) = default;
};

struct ExportReport {
    QString path;                      // the file written, or the folder of per-page images
    std::optional<qint64> bytesBefore; // smaller PDF
    std::optional<qint64> bytesAfter;  // smaller PDF
    bool keptOriginal = false;         // smaller PDF: compression did not help
    int recognizedPages = 0;           // text
    int unreadablePages = 0;           // text
    int redactions = 0;                // redacted PDF
    int signaturesLeftOut = 0;         // PDF, smaller PDF: a copy of some pages holds no signature
    QString workFolderMoved;           // images: the work folder someone renamed meanwhile, left empty

    ExportReport() = default;
    explicit ExportReport(QString path) : path(std::move(path)) {}

    // One line for the finished export; none when there is nothing to say.
    std::optional<QString> summary() const;
    // A byte count as shown to people: "999 bytes", "12 KB", "1.4 MB".
    static QString size(qint64 bytes);

    friend bool operator==(const ExportReport&, const ExportReport&) = default;
};

// The one failure of an export. Its message is the sentence shown to the user.
class ExportError : public std::runtime_error {
public:
    enum class Kind {
        cannotWrite,
        empty,
        renderFailed,
        writeFailed,
        locked,
        unreadable,
        noSelection,
        noRedactions,
        noMarks,
        documentFile, // the file chosen is the open document's own
        notFaithful,  // the copy, read back, would not be the document (or could not be checked): not written
        mayShowLess,  // a PDF of a damaged document may show less than it in other programs: asked first
    };

    explicit ExportError(Kind kind);
    static ExportError cannotWrite(const QString& name, const QString& reason);
    // notFaithful, with the sentence that says why.
    static ExportError notFaithful(const QString& reason);

    Kind kind() const { return kind_; }
    const QString& name() const { return name_; }     // cannotWrite: the file's name
    const QString& reason() const { return reason_; } // cannotWrite, notFaithful: why
    QString message() const { return QString::fromStdString(what()); }

    friend bool operator==(const ExportError& a, const ExportError& b)
    {
        return a.kind_ == b.kind_ && a.name_ == b.name_ && a.reason_ == b.reason_;
    }

private:
    ExportError(Kind kind, QString name, QString reason);
    Kind kind_;
    QString name_;
    QString reason_;
};

// The export was cancelled; it passes through the exporter unchanged.
class ExportCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "The export was cancelled."; }
};

// A file-system failure on the way to the user's destination, with the
// system's error number. Thrown by the exporter's own file operations.
class FileSystemError : public std::system_error {
public:
    FileSystemError(int error, const std::string& what) : std::system_error(error, std::generic_category(), what) {}
};

namespace Exporter {
// The short reason a write, move or folder creation failed, placed in
// ExportError::cannotWrite. An error nested inside `error` (see
// std::nested_exception) is asked first; an engine error says what failed
// rather than the engine's own words.
QString saveFailureReason(const std::exception& error);
} // namespace Exporter

} // namespace quarnkit
