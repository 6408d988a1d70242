// ravlen-recognition-bench [--pages N] [FILE.pdf]
//
// Text recognition speed: the pages of FILE (the corpus's four-page LaTeX
// sample by default) are rendered once, as text export renders a scanned
// page, and saved as PNG; then ravlen's recognition and the `tesseract`
// command read the same images at the same resolution and languages, in turn
// in the same run. Both start Tesseract afresh for each page, as the export
// does. The last line reads "recognition ravlen P pages/min, tesseract Q
// pages/min".
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/TextRecognizer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Page {
    QImage image;
    QString path;
    int dpi = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString file = QString(RAVLEN_CORPUS_DIR) + "/pdflatex-4-pages.pdf";
    int limit = 8;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--pages" && i + 1 < args.size()) limit = std::max(1, args[++i].toInt());
        else file = args[i];
    }
    if (QStandardPaths::findExecutable("tesseract").isEmpty()) {
        std::fprintf(stderr, "the tesseract command is not installed (package tesseract-ocr)\n");
        return 1;
    }
    QTemporaryDir scratch;
    std::vector<Page> pages;
    try {
        const auto doc = platform::PdfDocument::openFile(file.toStdString());
        // Round the document as often as needed to reach the page count.
        for (int k = 0; k < limit && doc->pageCount() > 0; ++k) {
            const int i = k % doc->pageCount();
            const double scale =
                quarnkit::TextRecognizer::renderScale(quarnkit::TextRecognizer::displayedSize(doc->pageGeometry(i)));
            Page page{doc->render(i, scale), scratch.filePath(QString("page-%1.png").arg(k)),
                      int(std::lround(72 * scale))};
            page.image.setDotsPerMeterX(int(std::lround(page.dpi / 0.0254)));
            page.image.setDotsPerMeterY(page.image.dotsPerMeterX());
            if (!page.image.save(page.path)) throw std::runtime_error("cannot write " + page.path.toStdString());
            pages.push_back(std::move(page));
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    if (pages.empty()) return 1;
    std::string languages;
    for (const std::string& code : quarnkit::TextRecognizer::tesseractLanguages())
        languages += (languages.empty() ? "" : "+") + code;
    std::printf("file %s, %zu pages at %d dpi, languages %s\n", qPrintable(file), pages.size(), pages.front().dpi,
                languages.c_str());

    double ours = 0, theirs = 0;
    qsizetype ourChars = 0, theirChars = 0;
    for (const Page& page : pages) {
        QElapsedTimer clock;
        clock.start();
        try {
            ourChars += quarnkit::TextRecognizer::recognize(page.image, page.dpi).size();
        } catch (const quarnkit::TextRecognizerError& error) {
            std::fprintf(stderr, "%s\n", qPrintable(error.message()));
            return 1;
        }
        ours += clock.nsecsElapsed() / 1e9;

        clock.restart();
        QProcess tesseract;
        tesseract.start("tesseract",
                        {page.path, "-", "--dpi", QString::number(page.dpi), "-l", QString::fromStdString(languages)});
        if (!tesseract.waitForFinished(-1) || tesseract.exitCode() != 0) {
            std::fprintf(stderr, "tesseract failed on %s\n", qPrintable(page.path));
            return 1;
        }
        theirChars += QString::fromUtf8(tesseract.readAllStandardOutput()).trimmed().size();
        theirs += clock.nsecsElapsed() / 1e9;
    }
    const double n = double(pages.size());
    std::printf("ravlen %.2f s (%lld characters), tesseract %.2f s (%lld characters)\n", ours,
                static_cast<long long>(ourChars), theirs, static_cast<long long>(theirChars));
    std::printf("recognition ravlen %.1f pages/min, tesseract %.1f pages/min\n", 60 * n / ours, 60 * n / theirs);
    return 0;
}
