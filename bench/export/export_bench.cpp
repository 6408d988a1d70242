// ravlen-export-bench [--runs R] [FILE.pdf]
//
// PNG export of every page at 150 dpi: ravlen's export job (all cores)
// against `mutool draw -r 150 -o out%d.png FILE` (one thread), run in turn R
// times (3) in the same run; the best time of each is compared. The last
// line reads "png-export ratio R" with R = ravlen's time / mutool's time.
//
// Without FILE a 100-page document is built from the corpus's four-page
// LaTeX sample in a temporary folder.
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageAssembly.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Export/PagePipeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace {

bool buildDocument(int pages, const QString& path)
{
    try {
        const auto sample = platform::PdfDocument::openFile(std::string(RAVLEN_CORPUS_DIR) + "/pdflatex-4-pages.pdf");
        auto big = platform::PdfDocument::createEmpty();
        for (int have = 0; have < pages;) {
            const int count = std::min(sample->pageCount(), pages - have);
            platform::appendPages(*big, *sample, 0, count);
            have += count;
        }
        big->saveToFile(path.toStdString());
        return true;
    } catch (const platform::PdfError&) {
        std::fprintf(stderr, "cannot build the document from the corpus\n");
        return false;
    }
}

double ravlenSeconds(const QString& file, const QString& folder)
{
    QElapsedTimer clock;
    clock.start();
    const auto doc = platform::PdfDocument::openFile(file.toStdString());
    quarnkit::ExportSettings settings;
    settings.format = quarnkit::ExportFormat::png;
    settings.dpi = 150;
    settings.baseName = "Bench";
    for (int i = 0; i < doc->pageCount(); ++i) settings.pages.push_back(i);
    quarnkit::ExportJob::run(settings, doc, folder, {});
    return clock.nsecsElapsed() / 1e9;
}

double mutoolSeconds(const QString& file, const QString& folder)
{
    QElapsedTimer clock;
    clock.start();
    QProcess mutool;
    mutool.start("mutool", {"draw", "-q", "-r", "150", "-o", folder + "/out%d.png", file});
    if (!mutool.waitForFinished(-1) || mutool.exitCode() != 0) return -1;
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    QString file;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size()) runs = std::max(1, args[++i].toInt());
        else file = args[i];
    }
    QTemporaryDir scratch;
    if (file.isEmpty()) {
        file = scratch.filePath("bench-100.pdf");
        if (!buildDocument(100, file)) return 1;
    }
    std::printf("file %s, %d threads\n", qPrintable(file), quarnkit::PagePipeline::threadCount(100));
    double bestRavlen = std::numeric_limits<double>::max(), bestMutool = bestRavlen;
    for (int run = 0; run < runs; ++run) {
        const QString ours = scratch.filePath(QString("ravlen-%1").arg(run));
        const QString theirs = scratch.filePath(QString("mutool-%1").arg(run));
        QDir().mkpath(ours);
        QDir().mkpath(theirs);
        const double r = ravlenSeconds(file, ours);
        const double m = mutoolSeconds(file, theirs);
        if (m < 0) {
            std::fprintf(stderr, "mutool draw failed\n");
            return 1;
        }
        std::printf("run %d: ravlen %.2f s, mutool %.2f s\n", run + 1, r, m);
        bestRavlen = std::min(bestRavlen, r);
        bestMutool = std::min(bestMutool, m);
        QDir(ours).removeRecursively();
        QDir(theirs).removeRecursively();
    }
    std::printf("png-export ratio %.2f\n", bestRavlen / bestMutool);
    return 0;
}
