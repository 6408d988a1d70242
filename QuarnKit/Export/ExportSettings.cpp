#include "QuarnKit/Export/ExportSettings.h"

#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QLocale>
#include <QMimeDatabase>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace quarnkit {

namespace {

struct FormatRow {
    ExportFormat format;
    const char* raw;
    const char* title;
    const char* detail;
    const char* extension;
    const char* mime;
};

// One row per format, in the order the sheet shows them.
constexpr std::array<FormatRow, 9> formatRows{{
    {ExportFormat::pdf, "pdf", "PDF", "Marks stay editable", "pdf", "application/pdf"},
    {ExportFormat::flattenedPDF, "flattenedPDF", "Flattened PDF", "Marks painted into the page", "pdf",
     "application/pdf"},
    {ExportFormat::redactedPDF, "redactedPDF", "Redacted PDF", "Covered content removed permanently", "pdf",
     "application/pdf"},
    {ExportFormat::smallerPDF, "smallerPDF", "Smaller PDF", "Lighter images, same pages", "pdf", "application/pdf"},
    {ExportFormat::png, "png", "PNG", "Sharp image of each page", "png", "image/png"},
    {ExportFormat::jpeg, "jpeg", "JPEG", "Smaller image of each page", "jpg", "image/jpeg"},
    {ExportFormat::tiff, "tiff", "TIFF", "One file for print", "tiff", "image/tiff"},
    {ExportFormat::text, "text", "Text", "The words, even from scans", "txt", "text/plain"},
    {ExportFormat::marksSummary, "marksSummary", "Marks summary", "A Markdown list of every mark", "md",
     "text/markdown"},
}};

const FormatRow& row(ExportFormat format)
{
    return *std::find_if(formatRows.begin(), formatRows.end(),
                         [format](const FormatRow& r) { return r.format == format; });
}

struct ScopeRow {
    ExportScope scope;
    const char* raw;
    const char* title;
};

constexpr std::array<ScopeRow, 4> scopeRows{{
    {ExportScope::thisPage, "thisPage", "Current page"},
    {ExportScope::allPages, "allPages", "All pages"},
    {ExportScope::selectedPages, "selectedPages", "Selected pages"},
    {ExportScope::range, "range", "Range"},
}};

const ScopeRow& row(ExportScope scope)
{
    return *std::find_if(scopeRows.begin(), scopeRows.end(), [scope](const ScopeRow& r) { return r.scope == scope; });
}

QString errorMessage(ExportError::Kind kind, const QString& name, const QString& reason)
{
    switch (kind) {
    case ExportError::Kind::cannotWrite: return QStringLiteral("ravlen couldn't save \"%1\". %2").arg(name, reason);
    case ExportError::Kind::empty: return QStringLiteral("There is nothing to export.");
    case ExportError::Kind::renderFailed: return QStringLiteral("The page could not be rendered.");
    case ExportError::Kind::writeFailed: return QStringLiteral("The file could not be written.");
    case ExportError::Kind::locked: return QStringLiteral("Unlock the PDF before exporting it.");
    case ExportError::Kind::unreadable: return QStringLiteral("ravlen couldn't make a working copy of this PDF.");
    case ExportError::Kind::noSelection:
        return QStringLiteral("No pages are selected. Pick pages in the sidebar first.");
    case ExportError::Kind::noRedactions: return QStringLiteral("These pages have no redactions to apply.");
    case ExportError::Kind::noMarks: return QStringLiteral("These pages have no marks to list.");
    case ExportError::Kind::documentFile:
        return QStringLiteral("That is the PDF open in this window, and writing over it would replace the document "
                              "you are working on. Choose another name.");
    case ExportError::Kind::notFaithful: return reason;
    case ExportError::Kind::mayShowLess:
        return QString::fromUtf8(DocumentError::message(DocumentError::Code::fileWriteCopyShowsLess));
    }
    return {};
}

std::optional<QString> reasonForErrno(int code)
{
    switch (code) {
    case EPERM:
    case EACCES: return QStringLiteral("You don't have permission to save there.");
    case ENOSPC:
    case EDQUOT: return QStringLiteral("The disk is full.");
    case EROFS: return QStringLiteral("That disk is read only.");
    case ENOENT: return QStringLiteral("The folder it would go in doesn't exist.");
    case ENOTDIR: return QStringLiteral("A name on the way to it is not a folder.");
    case EISDIR: return QStringLiteral("That name is a folder.");
    case ELOOP: return QStringLiteral("Too many links lead to it.");
    case EINVAL: return QStringLiteral("That name is not a file ravlen can write into.");
    case EFBIG: return QString::fromUtf8(DocumentError::message(DocumentError::Code::fileWriteTooLarge));
    default: return std::nullopt;
    }
}

std::optional<QString> reasonForSystemError(const std::exception& error)
{
    // The engine's own file operations carry the system's error number.
    if (const auto* engine = dynamic_cast<const platform::PdfError*>(&error)) {
        // Told as a save is told: the same rule refuses both.
        if (const auto refusal = DocumentError::foreignNameRefusal(error)) return refusal;
        if (engine->code() == platform::PdfErrorCode::fileReplaced)
            return QStringLiteral("Another file or folder took the place of the one you chose after you chose it. "
                                  "Nothing was written.");
        if (engine->systemError() == 0) return std::nullopt;
        if (const auto reason = reasonForErrno(engine->systemError())) return reason;
        return QString::fromLocal8Bit(std::generic_category().message(engine->systemError())) + QLatin1Char('.');
    }
    const auto* system = dynamic_cast<const std::system_error*>(&error);
    if (!system) return std::nullopt;
    const std::error_condition condition = system->code().default_error_condition();
    if (condition.category() != std::generic_category()) return std::nullopt;
    return reasonForErrno(condition.value());
}

} // namespace

// ---------------------------------------------------------------- formats and scopes

namespace ExportFormats {
QString rawValue(ExportFormat format) { return QString::fromLatin1(row(format).raw); }
std::optional<ExportFormat> fromRaw(const QString& raw)
{
    for (const FormatRow& r : formatRows)
        if (raw == QLatin1String(r.raw)) return r.format;
    return std::nullopt;
}
QString title(ExportFormat format) { return QString::fromLatin1(row(format).title); }
QString detail(ExportFormat format) { return QString::fromLatin1(row(format).detail); }
QString fileExtension(ExportFormat format) { return QString::fromLatin1(row(format).extension); }
QString mimeType(ExportFormat format) { return QString::fromLatin1(row(format).mime); }
QString nameFilter(ExportFormat format)
{
    // The type's own patterns name ".tif" before ".tiff"; a save dialog gives
    // a proposed name the suffix of its filter's first pattern.
    const QMimeType type = QMimeDatabase().mimeTypeForName(mimeType(format));
    QStringList patterns{QStringLiteral("*.") + fileExtension(format)};
    for (const QString& pattern : type.globPatterns())
        if (!patterns.contains(pattern)) patterns << pattern;
    const QString name = type.comment().isEmpty() ? title(format) : type.comment();
    return name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}
bool isPDF(ExportFormat format)
{
    return format == ExportFormat::pdf || format == ExportFormat::flattenedPDF || format == ExportFormat::redactedPDF
           || format == ExportFormat::smallerPDF;
}
bool isImage(ExportFormat format)
{
    return format == ExportFormat::png || format == ExportFormat::jpeg || format == ExportFormat::tiff;
}
bool writesDirectory(ExportFormat format) { return format == ExportFormat::png || format == ExportFormat::jpeg; }
} // namespace ExportFormats

namespace ExportScopes {
QString rawValue(ExportScope scope) { return QString::fromLatin1(row(scope).raw); }
std::optional<ExportScope> fromRaw(const QString& raw)
{
    for (const ScopeRow& r : scopeRows)
        if (raw == QLatin1String(r.raw)) return r.scope;
    return std::nullopt;
}
QString title(ExportScope scope) { return QString::fromLatin1(row(scope).title); }
} // namespace ExportScopes

// ---------------------------------------------------------------- settings

platform::PdfSaveOptions ExportWriteOptions::saveOptions() const
{
    platform::PdfSaveOptions options;
    options.compress = true;
    options.garbageCollect = true;
    options.encryption = platform::PdfSaveOptions::Encryption::none;
    if (ownerPassword || userPassword) {
        options.encryption = platform::PdfSaveOptions::Encryption::aes256;
        options.ownerPassword = ownerPassword.value_or(std::string());
        options.userPassword = userPassword.value_or(std::string());
        options.allowed = permissions.value_or(platform::PdfPermissions{});
    }
    return options;
}

double ExportSettings::scale() const { return std::max(dpi, 36) / 72.0; }

bool ExportSettings::writesFolder() const { return ExportFormats::writesDirectory(format) && pages.size() > 1; }

bool ExportSettings::isProtected() const
{
    return ExportFormats::isPDF(format) && (!openPassword.isEmpty() || !editPassword.isEmpty());
}

ExportWriteOptions ExportSettings::writeOptions() const
{
    ExportWriteOptions options;
    if (!ExportFormats::isPDF(format)) return options;
    if (!openPassword.isEmpty() || !editPassword.isEmpty()) {
        options.ownerPassword = (editPassword.isEmpty() ? openPassword : editPassword).toStdString();
        if (!openPassword.isEmpty()) options.userPassword = openPassword.toStdString();
        if (!editPassword.isEmpty()) {
            // Printing (both qualities), copying and accessibility; no changes,
            // assembly, comments or form filling.
            platform::PdfPermissions p;
            p.edit = p.annotate = p.fillForms = p.assemble = false;
            options.permissions = p;
        }
    }
    options.textFromRecognition = makeSearchable;
    return options;
}

// ---------------------------------------------------------------- steps

ExportStep ExportStep::first(const ExportSettings& settings)
{
    switch (settings.format) {
    case ExportFormat::pdf:
    case ExportFormat::marksSummary: return {Kind::saving, 0, 0};
    case ExportFormat::smallerPDF: return {Kind::compressing, 0, 0};
    default: return {Kind::rendering, 0, int(settings.pages.size())};
    }
}

std::optional<double> ExportStep::fraction() const
{
    if ((kind != Kind::rendering && kind != Kind::recognizing) || total < 1) return std::nullopt;
    return std::clamp(double(done) / double(total), 0.0, 1.0);
}

QString ExportStep::label() const
{
    const QString page = QString::number(std::min(done + 1, total));
    switch (kind) {
    case Kind::rendering: return QStringLiteral("Page %1 of %2").arg(page).arg(total);
    case Kind::recognizing: return QStringLiteral("Reading page %1 of %2").arg(page).arg(total);
    case Kind::compressing: return QStringLiteral("Compressing images");
    case Kind::saving: return QStringLiteral("Saving");
    }
    return {};
}

// ---------------------------------------------------------------- reports

QString ExportReport::size(qint64 bytes)
{
    // Decimal units, as file managers show file sizes.
    const QLocale locale;
    if (bytes == 1) return QStringLiteral("1 byte");
    if (bytes < 1000) return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1000 * 1000) return QStringLiteral("%1 KB").arg(std::llround(double(bytes) / 1e3));
    if (bytes < 1000LL * 1000 * 1000) return QStringLiteral("%1 MB").arg(locale.toString(double(bytes) / 1e6, 'f', 1));
    return QStringLiteral("%1 GB").arg(locale.toString(double(bytes) / 1e9, 'f', 2));
}

std::optional<QString> ExportReport::summary() const
{
    QStringList sentences;
    if (bytesBefore && bytesAfter) {
        if (keptOriginal) {
            sentences << QStringLiteral("This PDF is already compact, so ravlen kept it as is. It's %1.")
                             .arg(size(*bytesAfter));
        } else {
            const double percent =
                *bytesBefore >= 1 ? double(*bytesBefore - *bytesAfter) / double(*bytesBefore) * 100 : 0;
            const long long shown = std::max(1LL, std::llround(percent));
            sentences << QStringLiteral("%1 to %2, %3% smaller.").arg(size(*bytesBefore), size(*bytesAfter)).arg(shown);
        }
    }
    // A signature covers the bytes of the file it signed: a copy of some of
    // its pages cannot carry it.
    if (signaturesLeftOut == 1)
        sentences << QStringLiteral("The signature on these pages was left out: it holds only in the signed file.");
    else if (signaturesLeftOut > 1)
        sentences << QStringLiteral(
                         "The %1 signatures on these pages were left out: they hold only in the signed file.")
                         .arg(signaturesLeftOut);
    if (recognizedPages == 1) sentences << QStringLiteral("Read 1 scanned page with text recognition.");
    else if (recognizedPages > 1)
        sentences << QStringLiteral("Read %1 scanned pages with text recognition.").arg(recognizedPages);
    if (unreadablePages == 1) sentences << QStringLiteral("Text recognition couldn't read 1 page.");
    else if (unreadablePages > 1)
        sentences << QStringLiteral("Text recognition couldn't read %1 pages.").arg(unreadablePages);
    // Another user renamed it, and may have put a folder of the user's at
    // its name: that is left alone, and so is ravlen's, emptied.
    if (!workFolderMoved.isEmpty())
        sentences << QStringLiteral("Someone else renamed ravlen's work folder “%1” while the pages were exported: "
                                    "ravlen left it, empty, wherever it is now, and left whatever has its name alone.")
                         .arg(workFolderMoved);
    if (sentences.isEmpty()) return std::nullopt;
    return sentences.join(QLatin1Char(' '));
}

// ---------------------------------------------------------------- errors

ExportError::ExportError(Kind kind) : ExportError(kind, {}, {}) {}

ExportError::ExportError(Kind kind, QString name, QString reason)
    : std::runtime_error(errorMessage(kind, name, reason).toStdString()), kind_(kind), name_(std::move(name)),
      reason_(std::move(reason))
{}

ExportError ExportError::cannotWrite(const QString& name, const QString& reason)
{
    return ExportError(Kind::cannotWrite, name, reason);
}

ExportError ExportError::notFaithful(const QString& reason) { return ExportError(Kind::notFaithful, {}, reason); }

namespace Exporter {

QString saveFailureReason(const std::exception& error)
{
    try {
        std::rethrow_if_nested(error);
    } catch (const std::exception& underlying) {
        if (const auto reason = reasonForSystemError(underlying)) return *reason;
    } catch (...) {}
    if (const auto reason = reasonForSystemError(error)) return *reason;
    // Told as a save is told: the same read-back refuses both.
    if (const auto refusal = DocumentError::readBackRefusal(error)) return *refusal;
    // The system's own sentence for the error, without the operation's prefix.
    if (const auto* system = dynamic_cast<const std::system_error*>(&error))
        return QString::fromLocal8Bit(system->code().message()) + QLatin1Char('.');
    // The engine's words are for developers: the user is told what failed.
    if (dynamic_cast<const platform::PdfError*>(&error)) return ExportError(ExportError::Kind::writeFailed).message();
    return QString::fromLocal8Bit(error.what());
}

} // namespace Exporter

} // namespace quarnkit
