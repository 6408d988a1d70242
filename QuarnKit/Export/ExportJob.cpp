#include "QuarnKit/Export/ExportJob.h"

#include "Platform/FileDescriptor.h"
#include "Platform/FileReplacement.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/TextRecognizer.h"
#include "QuarnKit/Export/Exporter.h"
#include "QuarnKit/Export/MarksSummary.h"
#include "QuarnKit/Export/MultiPageTIFF.h"
#include "QuarnKit/Export/PagePipeline.h"
#include "QuarnKit/Export/SmallerPdf.h"
#include "QuarnKit/Export/TextLayer.h"
#include "QuarnKit/Markup/Redaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

namespace quarnkit {

namespace ExportSnapshot {

QByteArray data(const HeldDocument& held, ExportFormat format, bool lossAccepted)
{
    return data(*pdfOf(held), format, lossAccepted);
}

namespace {

// Whether `format` shows the pages only as they are drawn.
bool drawsPages(ExportFormat format)
{
    return format == ExportFormat::flattenedPDF || format == ExportFormat::png || format == ExportFormat::jpeg
           || format == ExportFormat::tiff;
}

// Every page of `doc` as ravlen draws it, marks and fields included, in a
// new document's bytes.
QByteArray drawnData(const platform::PdfDocument& doc)
{
    std::vector<int> pages(std::size_t(std::max(0, doc.pageCount())));
    for (std::size_t i = 0; i < pages.size(); ++i) pages[i] = int(i);
    return Exporter::renderPDF(doc, pages, Exporter::documentInfo(doc), {}, Exporter::drawFlattened);
}

} // namespace

QByteArray data(const platform::PdfDocument& doc, ExportFormat format, bool lossAccepted)
{
    if (doc.isLocked()) return {};
    try {
        // An export writes its PDF anew: what only an update of the file's
        // own bytes would keep is lost to it, as a Save As may lose it.
        if (ExportFormats::isPDF(format) && copyNeedsLossQuestion(doc, lossAccepted))
            throw ExportError(ExportError::Kind::mayShowLess);
        platform::PdfSaveOptions options;
        options.encryption = platform::PdfSaveOptions::Encryption::none;
        // Written as Save writes a file: what nothing refers to (a broken
        // object left over by the program that made the file) stays out.
        options.garbageCollect = true;
        try {
            return doc.save(options);
        } catch (const platform::PdfError& error) {
            // Names the engine cut matter to an export that writes a PDF;
            // images and text are drawn from the engine's reading alike.
            if (error.code() != platform::PdfErrorCode::namesTooLong || ExportFormats::isPDF(format)) throw;
            options.readBack = false;
            return doc.save(options);
        }
    } catch (const platform::PdfError& error) {
        // The pages as ravlen draws them need no PDF written from the
        // document: where none can be written, or none reads back as the
        // document, they are drawn into a new one, which images and a
        // flattened copy are made from.
        using Code = platform::PdfErrorCode;
        if (drawsPages(format)
            && (error.code() == Code::writeUnrestored || error.code() == Code::unfaithfulCopy
                || error.code() == Code::unopenableCopy))
            return drawnData(doc);
        // A copy that would not read back as the document is none to export from.
        if (const auto refusal = DocumentError::readBackRefusal(error)) throw ExportError::notFaithful(*refusal);
        return {};
    }
}

} // namespace ExportSnapshot

std::optional<ExportDestination> ExportDestination::choose(const ExportSettings& settings, const QString& path,
                                                           const ReplaceQuestion& question)
{
    ExportDestination destination;
    destination.path_ = path;
    if (settings.writesFolder()) {
        destination.folder_ = std::make_shared<const Exporter::HeldFolder>(Exporter::chosenFolder(path));
        return destination;
    }
    destination.file_ = Exporter::chooseFile(path, question);
    if (!destination.file_) return std::nullopt;
    return destination;
}

namespace ExportJob {

namespace {

using Kind = ExportStep::Kind;
using platform::PdfDocument;

class Run {
public:
    Run(const ExportSettings& settings, const std::shared_ptr<PdfDocument>& source,
        const ExportDestination& destination, const Progress& progress, std::stop_token stop,
        const Recognizer& recognize)
        : s(settings), source(source), destination(destination), progress(progress), stop(std::move(stop)),
          recognize(recognize ? recognize : Recognizer([](const PdfDocument& doc, int page) {
              return TextRecognizer::recognize(doc, page);
          }))
    {}

    ExportReport go()
    {
        if (source->isLocked()) throw ExportError(ExportError::Kind::locked);
        const int count = source->pageCount();
        std::vector<int> pages;
        for (int p : s.pages)
            if (p >= 0 && p < count) pages.push_back(p);
        if (pages.empty()) throw ExportError(ExportError::Kind::empty);
        s.pages = pages;
        options = s.writeOptions();

        switch (s.format) {
        case ExportFormat::pdf: return pdf();
        case ExportFormat::flattenedPDF: return drawn(Exporter::documentInfo(*source), Exporter::drawFlattened);
        case ExportFormat::redactedPDF: return redacted();
        case ExportFormat::smallerPDF: return smaller();
        case ExportFormat::text: return text();
        case ExportFormat::marksSummary: return marks();
        case ExportFormat::png:
        case ExportFormat::jpeg: return s.pages.size() == 1 ? singleImage() : imageFolder();
        case ExportFormat::tiff: return s.pages.size() == 1 ? singleImage() : multiPageTiff();
        }
        throw ExportError(ExportError::Kind::renderFailed);
    }

private:
    void report(Kind kind, int done = 0, int total = 0) const
    {
        if (progress) progress({kind, done, total});
    }
    void check() const
    {
        if (stop.stop_requested()) throw ExportCancelled();
    }
    int total() const { return int(s.pages.size()); }
    // The file the question saw; a folder chosen for a file is no place to write it.
    const platform::ChosenFile& file() const
    {
        if (!destination.file()) throw ExportError(ExportError::Kind::writeFailed);
        return *destination.file();
    }
    // Before each page of an image export: stop when asked, say which page.
    std::function<void(int)> stepBefore() const
    {
        return [this](int k) {
            check();
            report(Kind::rendering, k, total());
        };
    }

    // With "Make scanned text searchable": the pages without text of their
    // own get the words text recognition reads there, page by page.
    void addTextLayer(PdfDocument& doc) const
    {
        if (!options.textFromRecognition) return;
        TextLayer::addToScannedPages(doc, [this](int page, int count) {
            check();
            report(Kind::recognizing, page, count);
        });
    }

    // The pages as the PDF export writes them, with their text layer when asked.
    std::shared_ptr<PdfDocument> plainDocument()
    {
        std::shared_ptr<PdfDocument> doc;
        try {
            doc = Exporter::subset(source, s.pages, &signaturesLeft);
        } catch (const platform::PdfError&) {
            throw ExportError(ExportError::Kind::renderFailed);
        }
        // The layer goes into a copy of the job's own.
        if (options.textFromRecognition && doc == source) doc = PdfDocument::openBytes(Exporter::pdfBytes(*doc, {}));
        addTextLayer(*doc);
        return doc;
    }

    ExportReport pdf()
    {
        const auto doc = plainDocument();
        report(Kind::saving);
        const QByteArray bytes = Exporter::pdfBytes(*doc, options);
        check();
        Exporter::writePdfFile(bytes, file());
        ExportReport result(destination.path());
        result.signaturesLeftOut = signaturesLeft;
        return result;
    }

    ExportReport drawn(const Exporter::DocumentInfo& info, const Exporter::PageDrawer& drawer)
    {
        const auto doc = Exporter::drawPDF(
            *source, s.pages, info, [this](int k) { report(Kind::rendering, k, total()); }, drawer, stop);
        check();
        addTextLayer(*doc);
        if (!options.isEmpty()) report(Kind::saving);
        const QByteArray bytes = Exporter::pdfBytes(*doc, options);
        check();
        Exporter::writePdfFile(bytes, file());
        return ExportReport(destination.path());
    }

    ExportReport redacted()
    {
        const int n = Redaction::count(*source, s.pages);
        if (n < 1) throw ExportError(ExportError::Kind::noRedactions);
        ExportReport result = drawn({}, Exporter::drawRedacted);
        result.redactions = n;
        return result;
    }

    ExportReport smaller()
    {
        auto doc = plainDocument();
        report(Kind::compressing);
        // What the user's pages already are: the PDF export's very bytes,
        // written when nothing is gained.
        const QByteArray original = Exporter::pdfBytes(*doc, options);
        check();
        // Pictures are replaced in a copy of the job's own.
        if (doc == source) doc = PdfDocument::openBytes(Exporter::pdfBytes(*doc, {}));
        const bool lighter = SmallerPdf::compressImages(*doc, [this] { check(); }) > 0;
        const QByteArray smaller =
            SmallerPdf::compactFile(lighter ? Exporter::pdfBytes(*doc, options) : original, *doc, options);
        check();
        ExportReport result(destination.path());
        result.signaturesLeftOut = signaturesLeft;
        result.keptOriginal = smaller.size() >= original.size();
        if (result.keptOriginal) report(Kind::saving);
        const QByteArray& output = result.keptOriginal ? original : smaller;
        Exporter::writePdfFile(output, file());
        result.bytesBefore = original.size();
        result.bytesAfter = output.size();
        return result;
    }

    ExportReport text()
    {
        QStringList entries;
        ExportReport result(destination.path());
        for (int k = 0; k < total(); ++k) {
            check();
            const int i = s.pages[size_t(k)];
            QString words;
            try {
                words = TextRecognizer::existingText(*source, i);
            } catch (const platform::PdfError&) {
                // A page the engine cannot read has no text of its own:
                // recognition tries it, and counts it when it fails too.
            }
            if (!words.isEmpty()) {
                report(Kind::rendering, k, total());
            } else {
                report(Kind::recognizing, k, total());
                try {
                    words = recognize(*source, i);
                    if (!words.isEmpty()) ++result.recognizedPages;
                } catch (const std::exception&) {
                    ++result.unreadablePages;
                }
            }
            words = Exporter::expandedLigatures(words);
            entries << (total() == 1 ? words : QStringLiteral("Page %1\n").arg(i + 1) + words);
        }
        check();
        Exporter::writeFile(entries.join(QStringLiteral("\n\n")).toUtf8(), file());
        return result;
    }

    ExportReport marks()
    {
        if (MarksSummary::count(*source, s.pages) < 1) throw ExportError(ExportError::Kind::noMarks);
        Exporter::writeFile(MarksSummary::markdown(*source, s.pages, s.baseName).toUtf8(), file());
        return ExportReport(destination.path());
    }

    QByteArray encodedPage(int index) const { return encodedPage(*source, index); }
    QByteArray encodedPage(const PdfDocument& doc, int index) const
    {
        QImage image;
        try {
            // In the three bytes a pixel the files hold: nothing to convert.
            image = Exporter::render(doc, index, s.scale(), {}, Exporter::BitmapAlpha::none);
        } catch (const Exporter::RenderFailed&) {
            throw ExportError(ExportError::Kind::renderFailed);
        }
        return Exporter::encode({image}, s.format, std::max(s.dpi, 36), s.jpegQuality);
    }

    ExportReport singleImage()
    {
        check();
        report(Kind::rendering, 0, 1);
        Exporter::writeFile(encodedPage(s.pages.front()), file());
        return ExportReport(destination.path());
    }

    ExportReport imageFolder()
    {
        // The chosen folder, held since the question; the pages' folder is
        // made in a work folder on its volume and renamed into it through
        // that opening.
        if (!destination.folder()) throw ExportError(ExportError::Kind::writeFailed);
        const Exporter::HeldFolder& into = *destination.folder();
        std::optional<Exporter::WorkFolder> work;
        const std::string base = QFile::encodeName(s.baseName).toStdString();
        int staging = -1;
        try {
            work.emplace(into);
            staging = work->makeFolder(work->fd(), base);
        } catch (const FileSystemError& error) {
            throw ExportError::cannotWrite(s.baseName, Exporter::saveFailureReason(error));
        }
        const QString ext = ExportFormats::fileExtension(s.format);
        const int count = source->pageCount();
        PagePipeline::run(
            source, s.pages, [this](const PdfDocument& doc, int i) { return encodedPage(doc, i); }, stepBefore(),
            [&](int k, const QByteArray& bytes) {
                const QString name = Exporter::pageFileName(s.baseName, s.pages[size_t(k)], count, ext);
                work->writeNewFile(staging, QFile::encodeName(name).toStdString(), bytes);
            });
        check();
        // Into the folder the question saw, still at its path: one exchanged
        // for it since takes nothing.
        try {
            const platform::HeldName now =
                platform::reachChosenFolder(QFile::encodeName(destination.path()).toStdString());
            struct stat held {
            }, there{};
            if (::fstat(into.fd.fd, &held) != 0 || ::fstat(now.folder.fd, &there) != 0
                || platform::FileIdentity::of(held) != platform::FileIdentity::of(there))
                throw platform::PdfError(platform::PdfErrorCode::fileReplaced, "the folder was moved", EAGAIN);
        } catch (const platform::PdfError& error) {
            throw ExportError::cannotWrite(s.baseName, Exporter::saveFailureReason(error));
        }
        // Never replace a folder, not even one made while the pages were drawn.
        for (int attempt = 0;; ++attempt) {
            const QString name = Exporter::freeFolderName(into.fd.fd, s.baseName);
            const int moved = work->moveOut(work->fd(), base, into.fd.fd, QFile::encodeName(name).toStdString());
            if (moved == 0) {
                ExportReport result(QDir(into.path).filePath(name));
                if (!work->remove()) result.workFolderMoved = QFileInfo(work->path()).fileName();
                return result;
            }
            if (moved != EEXIST || attempt >= 100)
                throw ExportError::cannotWrite(name, Exporter::saveFailureReason(FileSystemError(moved, "move")));
        }
    }

    ExportReport multiPageTiff()
    {
        // Written as a save writes, the pages streamed into the new file as
        // they come: a file that was there keeps its mode until it is replaced
        // whole, and one that appeared meanwhile is replaced as Save As would.
        const QString name = QFileInfo(destination.path()).fileName();
        Exporter::writeFile(file(), [&](int fd) {
            MultiPageTIFF writer(fd, name, MultiPageTIFF::maximumSize);
            PagePipeline::run(
                source, s.pages, [this](const PdfDocument& doc, int i) { return encodedPage(doc, i); }, stepBefore(),
                [&](int, const QByteArray& bytes) { writer.append(bytes); });
            report(Kind::saving);
            writer.finish();
            check();
        });
        return ExportReport(destination.path());
    }

    ExportSettings s;
    const std::shared_ptr<PdfDocument>& source;
    const ExportDestination& destination;
    const Progress& progress;
    std::stop_token stop;
    Recognizer recognize;
    ExportWriteOptions options;
    int signaturesLeft = 0; // by plainDocument
};

} // namespace

ExportReport run(const ExportSettings& settings, const std::shared_ptr<platform::PdfDocument>& source,
                 const ExportDestination& destination, const Progress& progress, std::stop_token stop,
                 const Recognizer& recognize)
{
    try {
        return Run(settings, source, destination, progress, std::move(stop), recognize).go();
    } catch (const platform::PdfError&) {
        // The engine failed to read or draw a page, or to make the file's
        // bytes: that is what the user is told, not that the copy failed.
        throw ExportError(ExportError::Kind::renderFailed);
    }
}

ExportReport run(const ExportSettings& settings, const QByteArray& snapshot, const ExportDestination& destination,
                 const Progress& progress, std::stop_token stop)
{
    try {
        return run(settings, platform::PdfDocument::openBytes(snapshot), destination, progress, std::move(stop));
    } catch (const platform::PdfError&) {
        throw ExportError(ExportError::Kind::unreadable);
    }
}

} // namespace ExportJob

} // namespace quarnkit
