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

QByteArray data(const platform::PdfDocument& doc, ExportFormat format, bool lossAccepted)
{
    if (doc.isLocked()) return {};
    try {
        // An export writes its PDF anew: what only an update of the file's
        // own bytes would keep is lost to it, as a Save As may lose it.
        if (!lossAccepted && ExportFormats::isPDF(format) && doc.newCopyShowsLess())
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
        // A copy that would not read back as the document is none to export from.
        if (const auto refusal = DocumentError::readBackRefusal(error)) throw ExportError::notFaithful(*refusal);
        return {};
    }
}

} // namespace ExportSnapshot

namespace ExportJob {

namespace {

using Kind = ExportStep::Kind;
using platform::PdfDocument;

class Run {
public:
    Run(const ExportSettings& settings, const std::shared_ptr<PdfDocument>& source, const QString& destination,
        const Progress& progress, std::stop_token stop, const Recognizer& recognize)
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
        Exporter::writePdfFile(bytes, destination);
        ExportReport result(destination);
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
        Exporter::writePdfFile(bytes, destination);
        return ExportReport(destination);
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
        ExportReport result(destination);
        result.signaturesLeftOut = signaturesLeft;
        result.keptOriginal = smaller.size() >= original.size();
        if (result.keptOriginal) report(Kind::saving);
        const QByteArray& output = result.keptOriginal ? original : smaller;
        Exporter::writePdfFile(output, destination);
        result.bytesBefore = original.size();
        result.bytesAfter = output.size();
        return result;
    }

    ExportReport text()
    {
        QStringList entries;
        ExportReport result(destination);
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
        Exporter::writeFile(entries.join(QStringLiteral("\n\n")).toUtf8(), destination);
        return result;
    }

    ExportReport marks()
    {
        if (MarksSummary::count(*source, s.pages) < 1) throw ExportError(ExportError::Kind::noMarks);
        Exporter::writeFile(MarksSummary::markdown(*source, s.pages, s.baseName).toUtf8(), destination);
        return ExportReport(destination);
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
        Exporter::writeFile(encodedPage(s.pages.front()), destination);
        return ExportReport(destination);
    }

    ExportReport imageFolder()
    {
        // The chosen folder is walked to once; the pages' folder is made in a
        // work folder on its volume and renamed into it through that opening.
        const Exporter::HeldFolder into = Exporter::chosenFolder(destination);
        std::optional<Exporter::WorkFolder> work;
        try {
            work.emplace(into);
        } catch (const FileSystemError& error) {
            throw ExportError::cannotWrite(s.baseName, Exporter::saveFailureReason(error));
        }
        const QByteArray base = QFile::encodeName(s.baseName);
        platform::FileDescriptor staging;
        if (::mkdirat(work->fd(), base.constData(), 0777) == 0)
            staging = platform::FileDescriptor(
                ::openat(work->fd(), base.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (staging.fd < 0)
            throw ExportError::cannotWrite(s.baseName, Exporter::saveFailureReason(FileSystemError(errno, "create")));
        const std::string stagingPath = QFile::encodeName(work->path()).toStdString() + '/' + base.toStdString();
        const QString ext = ExportFormats::fileExtension(s.format);
        const int count = source->pageCount();
        PagePipeline::run(
            source, s.pages, [this](const PdfDocument& doc, int i) { return encodedPage(doc, i); }, stepBefore(),
            [&](int k, const QByteArray& bytes) {
                const int i = s.pages[size_t(k)];
                const QString name = Exporter::pageFileName(s.baseName, i, count, ext);
                Exporter::writeFile(
                    bytes, platform::ChosenFile::in(platform::FileDescriptor(::fcntl(staging.fd, F_DUPFD_CLOEXEC, 0)),
                                                    stagingPath, QFile::encodeName(name).toStdString()));
            });
        check();
        // Never replace a folder, not even one made while the pages were drawn.
        for (int attempt = 0;; ++attempt) {
            const QString name = Exporter::freeFolderName(into.fd.fd, s.baseName);
            const int moved = ::renameat2(work->fd(), base.constData(), into.fd.fd, QFile::encodeName(name).constData(),
                                          RENAME_NOREPLACE)
                                      == 0
                                  ? 0
                                  : errno;
            if (moved == 0) return ExportReport(QDir(into.path).filePath(name));
            if (moved != EEXIST || attempt >= 100)
                throw ExportError::cannotWrite(name, Exporter::saveFailureReason(FileSystemError(moved, "move")));
        }
    }

    ExportReport multiPageTiff()
    {
        // Written as a save writes, the pages streamed into the new file as
        // they come: a file that was there keeps its mode until it is replaced
        // whole, and one that appeared meanwhile is replaced as Save As would.
        const QString name = QFileInfo(destination).fileName();
        Exporter::writeFile(destination, [&](int fd) {
            MultiPageTIFF writer(fd, name, MultiPageTIFF::maximumSize);
            PagePipeline::run(
                source, s.pages, [this](const PdfDocument& doc, int i) { return encodedPage(doc, i); }, stepBefore(),
                [&](int, const QByteArray& bytes) { writer.append(bytes); });
            report(Kind::saving);
            writer.finish();
            check();
        });
        return ExportReport(destination);
    }

    ExportSettings s;
    const std::shared_ptr<PdfDocument>& source;
    const QString& destination;
    const Progress& progress;
    std::stop_token stop;
    Recognizer recognize;
    ExportWriteOptions options;
    int signaturesLeft = 0; // by plainDocument
};

} // namespace

ExportReport run(const ExportSettings& settings, const std::shared_ptr<platform::PdfDocument>& source,
                 const QString& destination, const Progress& progress, std::stop_token stop,
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

ExportReport run(const ExportSettings& settings, const QByteArray& snapshot, const QString& destination,
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
