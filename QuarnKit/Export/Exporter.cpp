#include "QuarnKit/Export/Exporter.h"

#include "Platform/FileMoves.h"
#include "Platform/FileReplacement.h"
#include "Platform/ImageEncoding.h"
#include "Platform/PathWalk.h"
#include "Platform/PdfReadBack.h"
#include "Platform/PdfWriting.h"
#include "QuarnKit/Document/DocumentMetadata.h"
#include "QuarnKit/Document/PageRange.h"
#include "QuarnKit/Document/ShareFolder.h"
#include "QuarnKit/Markup/Redaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <numeric>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarnkit::Exporter {

using platform::PdfDocument;
using platform::PdfError;
using platform::PdfSize;

namespace {

ExportError failure(ExportError::Kind kind) { return ExportError(kind); }

bool exists(const PdfDocument& doc, int index) { return index >= 0 && index < doc.pageCount(); }

bool isWholeDocument(const std::vector<int>& pages, int count)
{
    if (int(pages.size()) != count) return false;
    for (int i = 0; i < count; ++i)
        if (pages[size_t(i)] != i) return false;
    return true;
}

PdfSize drawnSizeOf(const PdfDocument& doc, int index)
{
    const platform::PdfPageGeometry geometry = doc.pageGeometry(index);
    return drawnSize(geometry, displayBox(geometry));
}

QString composedName(ExportFormat format, const QString& base, const QString& suffix)
{
    switch (format) {
    case ExportFormat::pdf:
        return base + (suffix.isEmpty() ? QStringLiteral(" copy") : suffix) + QStringLiteral(".pdf");
    case ExportFormat::flattenedPDF: return base + suffix + QStringLiteral(" flattened.pdf");
    case ExportFormat::redactedPDF: return base + suffix + QStringLiteral(" redacted.pdf");
    case ExportFormat::smallerPDF: return base + suffix + QStringLiteral(" smaller.pdf");
    case ExportFormat::marksSummary: return base + suffix + QStringLiteral(" marks.md");
    default: return base + suffix + QLatin1Char('.') + ExportFormats::fileExtension(format);
    }
}

// Fills a file with `data`, as replaceFileContents asks.
platform::ContentsWriter bytesWriter(const QByteArray& data)
{
    return [&data](int fd) {
        if (const int error = platform::writeAllAt(fd, data.constData(), std::size_t(data.size()), 0))
            throw PdfError(platform::PdfErrorCode::io, "cannot write the file", error);
    };
}

[[noreturn]] void throwErrno(const QString& path, const char* what)
{
    throw FileSystemError(errno, std::string(what) + " " + QFile::encodeName(path).toStdString());
}

} // namespace

// ------------------------------------------------------------ page selection

std::vector<int> pageIndexes(int count, ExportScope scope, int current)
{
    if (count < 1) return {};
    switch (scope) {
    case ExportScope::thisPage: return {std::clamp(current, 0, count - 1)};
    case ExportScope::allPages: {
        std::vector<int> all(static_cast<size_t>(count));
        std::iota(all.begin(), all.end(), 0);
        return all;
    }
    default: return {};
    }
}

std::vector<int> pages(ExportScope scope, int count, int current, const std::set<int>& selected, const QString& range)
{
    if (count < 1) throw failure(ExportError::Kind::empty);
    switch (scope) {
    case ExportScope::thisPage:
    case ExportScope::allPages: return pageIndexes(count, scope, current);
    case ExportScope::selectedPages: {
        std::vector<int> chosen;
        for (int i : selected)
            if (i >= 0 && i < count) chosen.push_back(i);
        if (chosen.empty()) throw failure(ExportError::Kind::noSelection);
        return chosen;
    }
    case ExportScope::range: return PageRange::parse(range, count);
    }
    return {};
}

// ------------------------------------------------------------ naming

QString baseName(const std::optional<QString>& filePath) { return ShareFolder::baseName(filePath.value_or(QString())); }

QString suggestedFileName(const QString& base, ExportFormat format, ExportScope scope)
{
    QString suffix;
    if (scope == ExportScope::thisPage) suffix = QStringLiteral(" page");
    else if (scope == ExportScope::selectedPages || scope == ExportScope::range) suffix = QStringLiteral(" pages");
    return composedName(format, base, suffix);
}

QString suggestedFileName(const QString& base, ExportFormat format, const std::vector<int>& pages, int count)
{
    const std::set<int> distinct(pages.begin(), pages.end());
    QString suffix;
    // Every page of the document needs no suffix, even a document of one page.
    if (distinct.empty() || int(distinct.size()) == count) suffix.clear();
    else if (distinct.size() == 1) suffix = QStringLiteral(" page %1").arg(*distinct.begin() + 1);
    else {
        const QString runs = PageRange::describe(pages);
        suffix = runs.size() > 24 ? QStringLiteral(" pages") : QStringLiteral(" pages ") + runs;
    }
    return composedName(format, base, suffix);
}

QString pageFileName(const QString& base, int index, int count, const QString& ext)
{
    const int width = std::max(2, int(QString::number(std::max(count, 1)).size()));
    return base + QLatin1Char('-') + QStringLiteral("%1").arg(index + 1, width, 10, QLatin1Char('0')) + QLatin1Char('.')
           + ext;
}

// ------------------------------------------------------------ new PDFs

QImage opaqueBitmap(const PdfDocument& doc, int index, double scale, const Overlay& overlay)
{
    try {
        return render(doc, index, scale, overlay, BitmapAlpha::noneSkipLast);
    } catch (const RenderFailed&) {
        throw failure(ExportError::Kind::renderFailed);
    }
}

std::shared_ptr<PdfDocument> drawPDF(const PdfDocument& doc, const std::vector<int>& pages, const DocumentInfo& info,
                                     const std::function<void(int)>& progress, const PageDrawer& drawPage,
                                     std::stop_token stop)
{
    try {
        const auto out = PdfDocument::createEmpty();
        platform::PdfWriting::FlattenedCopy copy(*out, doc);
        int drawn = 0;
        for (size_t k = 0; k < pages.size(); ++k) {
            if (stop.stop_requested()) throw ExportCancelled();
            if (progress) progress(int(k));
            const int index = pages[k];
            if (!exists(doc, index)) continue;
            drawPage(copy, index, drawnSizeOf(doc, index));
            ++drawn;
        }
        if (drawn == 0) throw failure(ExportError::Kind::renderFailed);
        for (const auto& [key, value] : info) out->setInfoString(key, value);
        return out;
    } catch (const PdfError&) {
        throw failure(ExportError::Kind::renderFailed);
    } catch (const std::bad_alloc&) {
        throw failure(ExportError::Kind::renderFailed);
    }
}

QByteArray pdfBytes(const PdfDocument& doc, const ExportWriteOptions& options)
{
    QByteArray bytes;
    try {
        bytes = doc.save(options.saveOptions());
    } catch (const PdfError& error) {
        // Bytes that would not read back as the document are never exported.
        if (const auto refusal = DocumentError::readBackRefusal(error)) throw ExportError::notFaithful(*refusal);
    } catch (const std::bad_alloc&) {}
    if (bytes.isEmpty()) throw failure(ExportError::Kind::renderFailed);
    return bytes;
}

QByteArray renderPDF(const PdfDocument& doc, const std::vector<int>& pages, const DocumentInfo& info,
                     const std::function<void(int)>& progress, const PageDrawer& drawPage, std::stop_token stop,
                     const ExportWriteOptions& options)
{
    return pdfBytes(*drawPDF(doc, pages, info, progress, drawPage, stop), options);
}

DocumentInfo documentInfo(const PdfDocument& doc)
{
    const DocumentAttributes attributes = readDocumentAttributes(doc);
    const DocumentMetadata metadata(attributes);
    const std::pair<const char*, QString> entries[] = {
        {DocumentAttributeKey::title, metadata.title},
        {DocumentAttributeKey::author, metadata.author},
        {DocumentAttributeKey::subject, metadata.subject},
        {DocumentAttributeKey::keywords, metadata.keywords},
        {DocumentAttributeKey::creator, DocumentMetadata::string(DocumentAttributeKey::creator, attributes)},
    };
    DocumentInfo info;
    for (const auto& [key, value] : entries)
        if (!value.isEmpty()) info[key] = value.toStdString();
    return info;
}

namespace {

// The page and its marks as vector content.
void drawPainted(platform::PdfWriting::FlattenedCopy& copy, int index, PdfSize size)
{
    try {
        copy.appendPage(index, userToPixels(copy.source().pageGeometry(index), 1.0), size,
                        platform::PdfMarkUse::flatten);
    } catch (const PdfError&) {
        throw failure(ExportError::Kind::renderFailed);
    }
}

} // namespace

void drawFlattened(platform::PdfWriting::FlattenedCopy& copy, int index, PdfSize size)
{
    // A black box painted into a page reads as removal, and a careful reader
    // takes it so: what a redaction mark covers goes, as in a redacted copy.
    drawRedacted(copy, index, size);
}

void drawRedacted(platform::PdfWriting::FlattenedCopy& copy, int index, PdfSize size)
{
    const PdfDocument& source = copy.source();
    std::vector<platform::PdfRect> areas;
    for (const platform::PdfAnnotation& mark : Redaction::redactions(source, index)) areas.push_back(mark.rect);
    if (areas.empty()) return drawPainted(copy, index, size);

    const double scale = cappedScale(size, ExportSettings::redactionDPI / 72.0);
    const QImage image = opaqueBitmap(source, index, scale, [&areas](QPainter& painter) {
        // Whole pixels, without antialiasing: a half-covered pixel at a box's
        // edge would keep a trace of what lies under it.
        const QTransform toPixels = painter.transform();
        painter.resetTransform();
        painter.setRenderHint(QPainter::Antialiasing, false);
        for (const platform::PdfRect& r : areas)
            painter.fillRect(toPixels.mapRect(QRectF(r.x, r.y, r.width, r.height)).toAlignedRect(), Qt::black);
    });
    try {
        platform::PdfWriting::appendImagePage(copy.target(), image, size);
    } catch (const PdfError&) {
        throw failure(ExportError::Kind::renderFailed);
    }
}

// ------------------------------------------------------------ documents, text, images

std::shared_ptr<PdfDocument> subset(const std::shared_ptr<PdfDocument>& doc, const std::vector<int>& pages,
                                    int* signaturesLeft)
{
    if (signaturesLeft) *signaturesLeft = 0;
    const int count = doc->pageCount();
    if (isWholeDocument(pages, count)) return doc;
    std::vector<int> existing;
    for (int p : pages)
        if (p >= 0 && p < count) existing.push_back(p);
    auto out = PdfDocument::createEmpty();
    const int left = platform::PdfWriting::appendPagesWithMarks(*out, *doc, existing);
    if (signaturesLeft) *signaturesLeft = left;
    writeDocumentAttributes(*out, readDocumentAttributes(*doc));
    return out;
}

QByteArray pdfData(const std::shared_ptr<PdfDocument>& doc, const std::vector<int>& pages, bool flatten,
                   const ExportWriteOptions& options)
{
    if (pages.empty()) throw failure(ExportError::Kind::empty);
    if (flatten) return renderPDF(*doc, pages, documentInfo(*doc), {}, drawFlattened, {}, options);
    std::shared_ptr<PdfDocument> chosen;
    try {
        chosen = subset(doc, pages);
    } catch (const PdfError&) {
        throw failure(ExportError::Kind::renderFailed);
    }
    return pdfBytes(*chosen, options);
}

QString text(const PdfDocument& doc, const std::vector<int>& pages)
{
    QStringList entries;
    for (int index : pages) {
        if (!exists(doc, index)) continue;
        QString words;
        try {
            words = QString::fromStdString(doc.textPage(index).text()).trimmed();
        } catch (const PdfError&) {}
        words = expandedLigatures(words);
        entries << (pages.size() == 1 ? words : QStringLiteral("Page %1\n").arg(index + 1) + words);
    }
    return entries.join(QStringLiteral("\n\n"));
}

QString expandedLigatures(const QString& text)
{
    // The Latin and Armenian ligatures of Alphabetic Presentation Forms;
    // each one's compatibility decomposition is its letters.
    const auto isLigature = [](QChar c) {
        const char16_t u = c.unicode();
        return (u >= 0xFB00 && u <= 0xFB06) || (u >= 0xFB13 && u <= 0xFB17);
    };
    if (std::none_of(text.begin(), text.end(), isLigature)) return text;
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        if (isLigature(c)) out += QString(c).normalized(QString::NormalizationForm_KC);
        else out += c;
    }
    return out;
}

QByteArray encode(const std::vector<QImage>& images, ExportFormat format, std::optional<int> dpi, double quality)
{
    if (format != ExportFormat::png && format != ExportFormat::jpeg && format != ExportFormat::tiff)
        throw failure(ExportError::Kind::renderFailed);
    if (images.empty()) throw failure(ExportError::Kind::empty);
    // A PNG or JPEG file holds one image.
    if (format != ExportFormat::tiff && images.size() > 1) throw failure(ExportError::Kind::renderFailed);
    const int resolution = dpi.value_or(0) > 0 ? *dpi : 0;
    try {
        switch (format) {
        case ExportFormat::png: return platform::ImageEncoding::png(images.front(), resolution);
        case ExportFormat::jpeg:
            return platform::ImageEncoding::jpeg(images.front(), std::clamp(quality, 0.1, 1.0), resolution);
        default: return platform::ImageEncoding::tiff(images, resolution);
        }
    } catch (const platform::ImageEncoding::EncodingError&) {
        throw failure(ExportError::Kind::writeFailed);
    }
}

QByteArray imageData(const PdfDocument& doc, const std::vector<int>& pages, ExportFormat format, double scale,
                     double quality)
{
    std::vector<QImage> images;
    for (int index : pages) {
        if (!exists(doc, index)) continue;
        try {
            images.push_back(bitmap(doc, index, scale));
        } catch (const RenderFailed&) {
            throw failure(ExportError::Kind::renderFailed);
        }
    }
    if (images.empty()) throw failure(ExportError::Kind::empty);
    return encode(images, format, std::nullopt, quality);
}

// ------------------------------------------------------------ files

void writeFile(const QByteArray& data, const platform::ChosenFile& file) { writeFile(file, bytesWriter(data)); }

void writeFile(const platform::ChosenFile& file, const platform::ContentsWriter& write)
{
    // As a save writes: whole or not at all, the replaced file's mode kept,
    // and never through another user's link.
    try {
        platform::replaceFileContents(file, write);
    } catch (const PdfError& error) {
        throw ExportError::cannotWrite(QFileInfo(QFile::decodeName(file.chosenPath().c_str())).fileName(),
                                       saveFailureReason(error));
    }
}

void writePdfFile(const QByteArray& data, const platform::ChosenFile& file)
{
    writeFile(file, [&data](int fd) {
        bytesWriter(data)(fd);
        platform::checkFileHolds(fd, data);
    });
}

std::optional<platform::ChosenFile> chooseFile(const QString& path, const ReplaceQuestion& question)
{
    try {
        return platform::ChosenFile::ask(QFile::encodeName(path).toStdString(), [&](const platform::NameSeen& seen) {
            return question
                   && question(QFileInfo(path).fileName(),
                               seen.link ? QFile::decodeName(seen.leadsTo.c_str()) : QString());
        });
    } catch (const PdfError& error) {
        throw ExportError::cannotWrite(QFileInfo(path).fileName(), saveFailureReason(error));
    }
}

HeldFolder chosenFolder(const QString& path)
{
    try {
        platform::HeldName place = platform::reachChosenFolder(QFile::encodeName(path).toStdString());
        return {std::move(place.folder), QFile::decodeName(place.folderPath.c_str())};
    } catch (const PdfError& error) {
        throw ExportError::cannotWrite(QFileInfo(path).fileName(), saveFailureReason(error));
    }
}

WorkFolder::WorkFolder(const HeldFolder& beside)
{
    const QString name =
        QStringLiteral("ravlen Export ") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // In the user's private folder when that is on the destination's volume,
    // where nothing is left beside the user's files; else a hidden folder
    // beside them, on their volume for sure. Either way the last move is a rename.
    try {
        const QString root = ShareFolder().privateRoot();
        platform::FileDescriptor held(
            ::open(QFile::encodeName(root).constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat rootStat {
        }, besideStat{};
        if (held.fd >= 0 && ::fstat(held.fd, &rootStat) == 0 && ::fstat(beside.fd.fd, &besideStat) == 0
            && rootStat.st_dev == besideStat.st_dev && ::mkdirat(held.fd, QFile::encodeName(name), 0700) == 0) {
            parent_ = std::move(held);
            name_ = QFile::encodeName(name).toStdString();
            path_ = QDir(root).filePath(name);
        }
    } catch (const ShareError&) {}
    if (name_.empty()) {
        const QByteArray hidden = QFile::encodeName(u'.' + name);
        if (::mkdirat(beside.fd.fd, hidden.constData(), 0700) != 0) throwErrno(beside.path, "create a folder in");
        parent_ = platform::FileDescriptor(::fcntl(beside.fd.fd, F_DUPFD_CLOEXEC, 0));
        name_ = hidden.toStdString();
        path_ = QDir(beside.path).filePath(u'.' + name);
    }
    fd_ = platform::FileDescriptor(::openat(parent_.fd, name_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd_.fd < 0) {
        const int error = errno;
        ::unlinkat(parent_.fd, name_.c_str(), AT_REMOVEDIR);
        throw FileSystemError(error, "open " + QFile::encodeName(path_).toStdString());
    }
}

WorkFolder::~WorkFolder() { remove(); }

int WorkFolder::makeFolder(int in, const std::string& name)
{
    if (::mkdirat(in, name.c_str(), 0777) != 0) throw FileSystemError(errno, "create " + name);
    platform::FileDescriptor held(::openat(in, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (held.fd < 0 || ::fstat(held.fd, &st) != 0) throw FileSystemError(errno, "open " + name);
    made_.push_back({in, name, platform::FileIdentity::of(st), true, held.fd});
    held_.push_back(std::move(held));
    return held_.back().fd;
}

void WorkFolder::writeNewFile(int in, const std::string& name, const QByteArray& bytes)
{
    platform::FileDescriptor file(::openat(in, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    struct stat st {};
    int error = file.fd < 0 || ::fstat(file.fd, &st) != 0 ? errno : 0;
    if (!error) made_.push_back({in, name, platform::FileIdentity::of(st), false});
    if (!error) error = platform::writeAllAt(file.fd, bytes.constData(), std::size_t(bytes.size()), 0);
    if (!error && ::fsync(file.fd) != 0) error = errno;
    if (!error) error = file.close();
    if (error)
        throw ExportError::cannotWrite(QFile::decodeName(name.c_str()),
                                       saveFailureReason(FileSystemError(error, "write " + name)));
}

void WorkFolder::takeGroupOf(int to, int folder)
{
    // Made in the private work folder, they have the user's group, and a team
    // member could not open pages the umask keeps from others. Given here,
    // where only the user reaches them, through the descriptors they were
    // made with. A group the user is no member of cannot be given: they stay
    // the user's, and the folder takes no setgid bit for a group not the team's.
    struct stat there {};
    if (::fstat(to, &there) != 0 || !(there.st_mode & S_ISGID)) return;
    for (const Made& made : made_)
        if (made.in == folder && !made.folder)
            ::fchownat(folder, made.name.c_str(), uid_t(-1), there.st_gid, AT_SYMLINK_NOFOLLOW);
    const platform::FileDescriptor self(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat own {};
    if (self.fd >= 0 && ::fchown(self.fd, uid_t(-1), there.st_gid) == 0 && ::fstat(self.fd, &own) == 0)
        ::fchmod(self.fd, (own.st_mode & 07777) | S_ISGID);
}

int WorkFolder::moveOut(int in, const std::string& name, int to, const std::string& newName)
{
    const auto made =
        std::find_if(made_.begin(), made_.end(), [&](const Made& m) { return m.in == in && m.name == name; });
    if (made != made_.end() && made->folder) takeGroupOf(to, made->held);
    const bool exclusive = !platform::writeSeams().noExclusiveRename;
    if (exclusive && ::renameat2(in, name.c_str(), to, newName.c_str(), RENAME_NOREPLACE) == 0) {
        // All it made went with it: the user's now.
        made_.clear();
        return 0;
    }
    const int error = exclusive ? errno : EINVAL;
    // NFS, 9p and many FUSE file systems take no flag to a rename at all.
    return error == EINVAL || error == ENOSYS ? moveInto(in, name, to, newName) : error;
}

int WorkFolder::moveInto(int in, const std::string& name, int to, const std::string& newName)
{
    const auto made =
        std::find_if(made_.begin(), made_.end(), [&](const Made& m) { return m.in == in && m.name == name; });
    if (made == made_.end() || !made->folder) return EINVAL;
    // mkdir makes nothing where a name is: the name is taken first. The
    // pages' folder, made and filled where nobody else reaches, then takes
    // it with its own mode, never reopened by a name: a rename with no flag
    // replaces an empty folder only, the one just made or an empty one
    // another member of a shared folder put there since (which they could
    // remove anyway), never one that holds anything.
    if (::mkdirat(to, newName.c_str(), 0700) != 0) return errno;
    struct stat taken {};
    const bool known = ::fstatat(to, newName.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0;
    if (platform::writeSeams().afterFolderNameTaken) platform::writeSeams().afterFolderNameTaken();
    if (::renameat(in, name.c_str(), to, newName.c_str()) == 0) {
        made_.clear(); // all it made went with it: the user's now
        return 0;
    }
    const int error = errno;
    struct stat there {};
    if (known && ::fstatat(to, newName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0
        && platform::FileIdentity::of(there) == platform::FileIdentity::of(taken))
        ::unlinkat(to, newName.c_str(), AT_REMOVEDIR);
    return error;
}

bool WorkFolder::remove()
{
    if (std::exchange(removed_, true) || parent_.fd < 0) return true;
    // Last made, first removed; each only while its name in the folder it
    // was made in (held) still leads to it.
    for (auto made = made_.rbegin(); made != made_.rend(); ++made) {
        struct stat st {};
        if (::fstatat(made->in, made->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
            && platform::FileIdentity::of(st) == made->identity)
            ::unlinkat(made->in, made->name.c_str(), made->folder ? AT_REMOVEDIR : 0);
    }
    made_.clear();
    // Itself, emptied, only while its name still leads to it: another user
    // may have renamed it, and put a folder of the user's at its name.
    struct stat own {
    }, there{};
    if (::fstat(fd_.fd, &own) != 0) return false;
    if (::fstatat(parent_.fd, name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0
        || platform::FileIdentity::of(there) != platform::FileIdentity::of(own))
        return false;
    // Removing a folder takes it empty: were it exchanged in the meantime
    // for one that holds anything, that stays.
    ::unlinkat(parent_.fd, name_.c_str(), AT_REMOVEDIR);
    return true;
}

QString freeFolderName(int folder, const QString& name)
{
    QString candidate = name;
    struct stat st {};
    for (int n = 2; ::fstatat(folder, QFile::encodeName(candidate).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0; ++n)
        candidate = name + QStringLiteral(" %1").arg(n);
    return candidate;
}

} // namespace quarnkit::Exporter
