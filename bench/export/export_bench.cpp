// ravlen-export-bench [--runs R] [--cpus LIST] [FILE.pdf]
//
// PNG export of every page at 150 dpi on equal cores: the bench binds itself
// to the cores in LIST (taskset's form; 0-3 by default, every core when the
// machine has fewer), then runs ravlen's export job, whose workers stay on
// those cores, and as many `mutool draw -r 150 -o DIR/out%d.png` processes as
// there are cores, each drawing its share of the pages, on the same cores.
// Each side runs R times (3), in turn; the best times are compared. The PNG
// files of both are compared too: their size, and the pixels they hold.
// The last lines read "png-export-equal-cores ratio R" (ravlen's time ÷
// mutool's) and "png-bytes ratio R" (ravlen's files ÷ mutool's).
//
// Without FILE a 100-page document is built from the corpus's four-page
// LaTeX sample in a temporary folder.
#include "bench/BenchMachine.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageAssembly.h"
#include "QuarnKit/Export/ExportJob.h"
#include "QuarnKit/Export/PagePipeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

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
        big->saveToFile(*platform::ChosenFile::ask(path.toStdString(), [](const platform::NameSeen&) { return true; }));
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
    quarnkit::ExportJob::run(
        settings, doc,
        *quarnkit::ExportDestination::choose(settings, folder, [](const QString&, const QString&) { return true; }),
        {});
    return clock.nsecsElapsed() / 1e9;
}

// `processes` mutool processes at once, each drawing a contiguous share of the pages.
double mutoolSeconds(const QString& file, const QString& folder, int pages, int processes)
{
    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> running;
    for (int p = 0; p < processes; ++p) {
        const int first = pages * p / processes + 1, last = pages * (p + 1) / processes;
        if (first > last) continue;
        auto mutool = std::make_unique<QProcess>();
        mutool->start("mutool", {"draw", "-q", "-r", "150", "-o", folder + "/out%d.png", file,
                                 QString("%1-%2").arg(first).arg(last)});
        running.push_back(std::move(mutool));
    }
    for (auto& mutool : running)
        if (!mutool->waitForFinished(-1) || mutool->exitCode() != 0) return -1;
    return clock.nsecsElapsed() / 1e9;
}

struct Files {
    qint64 bytes = 0;
    std::vector<QString> paths; // sorted
};

Files pngFiles(const QString& folder)
{
    Files files;
    QDirIterator it(folder, {QStringLiteral("*.png")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        files.paths.push_back(it.next());
        files.bytes += it.fileInfo().size();
    }
    std::sort(files.paths.begin(), files.paths.end());
    return files;
}

// Pixels that differ between the first pages of both, as a share of those
// both have (mutool rounds a page's size up, ravlen to the nearest pixel).
double differingPixels(const QString& ours, const QString& theirs)
{
    const QImage a = QImage(ours).convertToFormat(QImage::Format_RGB888);
    const QImage b = QImage(theirs).convertToFormat(QImage::Format_RGB888);
    const QSize common = a.size().boundedTo(b.size());
    if (common.isEmpty()) return 1;
    qint64 differing = 0;
    for (int y = 0; y < common.height(); ++y)
        for (int x = 0; x < common.width() * 3; x += 3)
            differing += std::memcmp(a.constScanLine(y) + x, b.constScanLine(y) + x, 3) != 0;
    return double(differing) / (double(common.width()) * common.height());
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists: every one made later inherits the cores.
    std::string cpus = "0-3";
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--cpus")) cpus = argv[i + 1];
    const int cores = bench::bindToCores(cpus);

    QCoreApplication app(argc, argv);
    int runs = 3;
    QString file;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--runs" && i + 1 < args.size()) runs = std::max(1, args[++i].toInt());
        else if (args[i] == "--cpus" && i + 1 < args.size()) ++i;
        else file = args[i];
    }
    QTemporaryDir scratch;
    if (file.isEmpty()) {
        file = scratch.filePath("bench-100.pdf");
        if (!buildDocument(100, file)) return 1;
    }
    const int pages = platform::PdfDocument::openFile(file.toStdString())->pageCount();
    std::printf("file %s, %d pages; %d cores; ravlen's export uses %d threads, mutool %d processes; load average %s\n",
                qPrintable(file), pages, cores, quarnkit::PagePipeline::threadCount(pages), cores,
                bench::loadAverage().c_str());
    double bestRavlen = std::numeric_limits<double>::max(), bestMutool = bestRavlen;
    Files ourFiles, theirFiles;
    double differing = 0;
    for (int run = 0; run < runs; ++run) {
        const QString ours = scratch.filePath(QString("ravlen-%1").arg(run));
        const QString theirs = scratch.filePath(QString("mutool-%1").arg(run));
        QDir().mkpath(ours);
        QDir().mkpath(theirs);
        const double r = ravlenSeconds(file, ours);
        const double m = mutoolSeconds(file, theirs, pages, cores);
        if (m < 0) {
            std::fprintf(stderr, "mutool draw failed\n");
            return 1;
        }
        std::printf("run %d: ravlen %.2f s, mutool %.2f s\n", run + 1, r, m);
        bestRavlen = std::min(bestRavlen, r);
        bestMutool = std::min(bestMutool, m);
        if (run == 0) {
            ourFiles = pngFiles(ours);
            theirFiles = pngFiles(theirs);
            if (!ourFiles.paths.empty() && !theirFiles.paths.empty())
                differing = differingPixels(ourFiles.paths.front(), theirFiles.paths.front());
        }
        QDir(ours).removeRecursively();
        QDir(theirs).removeRecursively();
    }
    std::printf("png-export-equal-cores: ravlen %.2f s, peer %d mutool processes %.2f s (best of %d)\n", bestRavlen,
                cores, bestMutool, runs);
    std::printf("png-bytes: ravlen %lld bytes in %zu files, peer mutool %lld bytes in %zu files; "
                "first page: %.3f %% of its pixels differ\n",
                static_cast<long long>(ourFiles.bytes), ourFiles.paths.size(), static_cast<long long>(theirFiles.bytes),
                theirFiles.paths.size(), differing * 100);
    std::printf("load average at the end %s\n", bench::loadAverage().c_str());
    std::printf("png-export-equal-cores ratio %.2f\n", bestRavlen / bestMutool);
    std::printf("png-bytes ratio %.3f\n", theirFiles.bytes ? double(ourFiles.bytes) / double(theirFiles.bytes) : 0.0);
    return 0;
}
