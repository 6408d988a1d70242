// ravlen-pageview-bench [--pages N] [--first-paint-only] [--runs R] [--step VIEWS] [--until PAGE] [--no-save] [FILE.pdf]
//
// 1. First paint: the time from opening a long PDF to its first page painted
//    with all its tiles in a 1180 × 800 page view, against `mutool draw` of
//    that page at the same scale as PNG in the same run (when mutool is
//    installed), and against the whole process `mutool draw -o /dev/null
//    FILE 1` (the fair row, "first-paint-fair ratio R"). Then the resident
//    memory once every page is known, before any scrolling. With
//    --first-paint-only and --runs R, each side runs R times, ravlen each
//    time in a fresh process, and the medians are compared.
// 2. Scroll: from the first page to the last, half a view per step, one paint
//    per step; reports the slowest paint (a paint never waits for rendering),
//    the tile cache's peak against its budget, and the peak resident memory.
//    The resident memory is also sampled after the first screens and at each
//    tenth of the way, to show whether it stays flat, with what the heap holds
//    in use (blocks mapped on their own apart), what its arenas hold free, and
//    the tile cache: a heap in use that grows with the pages passed keeps
//    something of each page. --first-paint-only
//    stops after the first paint (the scroll takes minutes at 5,000 pages);
//    for quick rounds, --step scrolls VIEWS views per step (0.5 by default),
//    --until stops at a page and --no-save leaves the save out.
//
// 3. Save: the document written as the window saves it (on a worker) while
//    the view keeps scrolling; reports the longest the UI thread went without
//    handling its events, and the peak resident memory with the save (the
//    file is written as it is made, never held in memory whole).
//
// Without FILE, or when FILE does not exist yet, a document of N pages (1,000)
// is built there by repeating the sample PDFs of the corpus, each repetition
// copying its pages afresh; the measuring then runs in a fresh process.
#include "bench/BenchMachine.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageAssembly.h"
#include "Platform/PdfPageGeometries.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageTiles.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Peak and current resident set of this process, in megabytes (from /proc).
double statusMegabytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').front().toDouble() / 1024;
    return -1;
}

bool buildLongDocument(int pages, const std::string& path)
{
    const QDir corpus(QStringLiteral(RAVLEN_CORPUS_DIR));
    std::vector<std::shared_ptr<platform::PdfDocument>> sources;
    for (const QFileInfo& info : corpus.entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name)) {
        try {
            auto doc = platform::PdfDocument::openFile(info.absoluteFilePath().toStdString());
            if (!doc->needsPassword() && doc->pageCount() > 0) sources.push_back(doc);
        } catch (const platform::PdfError&) {}
    }
    if (sources.empty()) return false;
    auto big = platform::PdfDocument::createEmpty();
    int have = 0;
    for (size_t i = 0; have < pages; i = (i + 1) % sources.size()) {
        const int count = std::min(sources[i]->pageCount(), pages - have);
        try {
            platform::appendPages(*big, *sources[i], 0, count);
            have += count;
        } catch (const platform::PdfError&) {
            sources.erase(sources.begin() + long(i));
            if (sources.empty()) return false;
            i = sources.size() - 1;
        }
    }
    big->saveToFile(*platform::ChosenFile::ask(path, [](const platform::NameSeen&) { return true; }));
    return true;
}

// Seconds that `mutool draw` takes for page 1 at `scale`, or a negative number.
double mutoolSeconds(const std::string& path, double scale)
{
    const QString mutool = QStandardPaths::findExecutable(QStringLiteral("mutool"));
    if (mutool.isEmpty()) return -1;
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(mutool, {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("png"),
                           QStringLiteral("-o"), QStringLiteral("/dev/null"), QStringLiteral("-r"),
                           QString::number(72 * scale, 'f', 2), QString::fromStdString(path), QStringLiteral("1")});
    if (!process.waitForFinished(120000) || process.exitCode() != 0) return -1;
    return timer.nsecsElapsed() / 1e9;
}

// Milliseconds of the whole process `mutool draw -o /dev/null FILE 1` (it
// renders the page at 72 dpi and encodes it as PNG), or a negative number.
double mutoolWholeMs(const std::string& path)
{
    const QString mutool = QStandardPaths::findExecutable(QStringLiteral("mutool"));
    if (mutool.isEmpty()) return -1;
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(mutool, {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-o"),
                           QStringLiteral("/dev/null"), QString::fromStdString(path), QStringLiteral("1")});
    if (!process.waitForFinished(120000) || process.exitCode() != 0) return -1;
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? -1 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// R first paints, each in a fresh process, in turn with both mutool runs.
int compareFirstPaints(int runs, const std::string& path)
{
    std::vector<double> ours, png, whole;
    double scale = 0;
    const QStringList arguments = {QStringLiteral("--first-paint-only"), QString::fromStdString(path)};
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), arguments);
        if (!child.waitForFinished(600000) || child.exitCode() != 0) {
            std::fprintf(stderr, "the first paint failed\n");
            return 1;
        }
        for (const QByteArray& line : child.readAllStandardOutput().split('\n'))
            if (line.startsWith("first paint: ")) {
                double ms = 0;
                if (std::sscanf(line.constData(), "first paint: %lf ms", &ms) == 1) ours.push_back(ms);
                const int at = line.indexOf("at scale ");
                if (at >= 0) scale = line.mid(at + 9).toDouble();
            }
        if (const double m = mutoolSeconds(path, scale); m > 0) png.push_back(m * 1000);
        if (const double m = mutoolWholeMs(path); m > 0) whole.push_back(m);
    }
    if (ours.empty()) return 1;
    std::printf("document: %s; load average %s\n", path.c_str(), bench::loadAverage().c_str());
    std::printf("first paint: ravlen %.1f ms (median of %zu fresh processes)\n", median(ours), ours.size());
    if (!png.empty())
        std::printf("mutool draw -F png of page 1 at the view's scale: %.1f ms; ratio ravlen / mutool: %.2f\n",
                    median(png), median(ours) / median(png));
    if (!whole.empty()) {
        std::printf("first-paint-fair: ravlen %.1f ms, peer `mutool draw -o /dev/null FILE 1` %.1f ms\n", median(ours),
                    median(whole));
        std::printf("first-paint-fair ratio %.2f\n", median(ours) / median(whole));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int pages = 1000;
    bool firstPaintOnly = false;
    double stepViews = 0.5;
    int untilPage = 0; // 0: the last page
    int runs = 1;
    bool measureSave = true;
    std::string path;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--first-paint-only")) firstPaintOnly = true;
        else if (!std::strcmp(argv[i], "--step") && i + 1 < argc) stepViews = std::max(0.05, std::atof(argv[++i]));
        else if (!std::strcmp(argv[i], "--until") && i + 1 < argc) untilPage = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--no-save")) measureSave = false;
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else path = argv[i];
    }
    QTemporaryDir scratch;
    if (path.empty()) path = QDir(scratch.path()).filePath(QStringLiteral("long.pdf")).toStdString();
    if (!QFileInfo::exists(QString::fromStdString(path))) {
        std::printf("building a %d-page document from the corpus…\n", pages);
        if (!buildLongDocument(pages, path)) {
            std::fprintf(stderr, "no usable PDF in %s\n", RAVLEN_CORPUS_DIR);
            return 1;
        }
        // Measure in a fresh process: building the file used memory of its own.
        std::fflush(stdout);
        // The same options, and the file (the one given, or the one made here).
        QStringList arguments = QCoreApplication::arguments().mid(1);
        if (!arguments.contains(QString::fromStdString(path))) arguments.append(QString::fromStdString(path));
        return QProcess::execute(QCoreApplication::applicationFilePath(), arguments);
    }
    if (firstPaintOnly && runs > 1) return compareFirstPaints(runs, path);

    // ------------------------------------------------ first paint
    QElapsedTimer timer;
    timer.start();
    auto document = platform::PdfDocument::openFile(path);
    const double opened = timer.nsecsElapsed() / 1e6;
    quarnkit::QuarnDocument shownDocument(document);
    quarn::QuarnPDFView view;
    view.resize(1180, 800);
    view.load(&shownDocument);
    view.show();
    // As the window does once it shows: the rest of the file is read on a worker.
    quarnkit::settleInBackground(document);
    const double shown = timer.nsecsElapsed() / 1e6;
    while (!view.tiles().visibleReady()) app.processEvents(QEventLoop::AllEvents, 5);
    view.viewport()->repaint();
    const double firstPaint = timer.nsecsElapsed() / 1e6;
    while (!document->settle(0)) app.processEvents(QEventLoop::AllEvents, 5);
    const double settled = timer.nsecsElapsed() / 1e6;
    while (!platform::pagesMapped(*document)) app.processEvents(QEventLoop::AllEvents, 5);
    const double mapped = timer.nsecsElapsed() / 1e6;
    std::printf("document: %s, %d pages\n", path.c_str(), view.pageCount());
    std::printf("first paint: %.1f ms (opened %.1f ms, laid out and shown %.1f ms) at scale %.3f\n", firstPaint, opened,
                shown, view.scaleFactor());
    std::printf("rest of the file read on a worker (what a first edit would wait for) by %.1f ms\n", settled);
    std::printf("every page's size and object read (the layout's first guess replaced) by %.1f ms\n", mapped);
    std::printf("memory before scrolling: resident %.1f MB, peak %.1f MB\n", statusMegabytes("VmRSS:"),
                statusMegabytes("VmHWM:"));
    const double mutool = mutoolSeconds(path, view.scaleFactor());
    if (mutool > 0)
        std::printf("mutool draw of page 1: %.1f ms; ratio ravlen / mutool: %.2f\n", mutool * 1000,
                    firstPaint / (mutool * 1000));
    else std::printf("mutool draw: not available\n");
    if (const double whole = mutoolWholeMs(path); whole > 0) {
        std::printf("first-paint-fair: ravlen %.1f ms, peer `mutool draw -o /dev/null FILE 1` %.1f ms\n", firstPaint,
                    whole);
        std::printf("first-paint-fair ratio %.2f\n", firstPaint / whole);
    }
    if (firstPaintOnly) return 0;

    // ------------------------------------------------ scroll
    QScrollBar* bar = view.verticalScrollBar();
    const int step = std::max(1, int(view.viewport()->height() * stepViews));
    double slowestPaint = 0, totalPaint = 0;
    int paints = 0, blankPaints = 0;
    std::size_t peakCache = 0;
    // The first screens: a few steps, then what the process holds.
    for (int i = 0; i < 4 && bar->value() < bar->maximum(); ++i) {
        bar->setValue(std::min(bar->maximum(), bar->value() + step));
        view.viewport()->repaint();
        while (!view.tiles().visibleReady()) app.processEvents(QEventLoop::AllEvents, 5);
    }
    const double firstScreensRss = statusMegabytes("VmRSS:");
    std::printf("resident after the first screens: %.1f MB (peak so far %.1f MB)\n", firstScreensRss,
                statusMegabytes("VmHWM:"));
    std::fflush(stdout);
    const int lastPage = untilPage > 0 ? std::min(untilPage, view.pageCount()) - 1 : view.pageCount() - 1;
    int nextSample = 1;
    timer.restart();
    while (bar->value() < bar->maximum() && view.currentPageIndex() < lastPage) {
        bar->setValue(std::min(bar->maximum(), bar->value() + step));
        QElapsedTimer paint;
        paint.start();
        view.viewport()->repaint();
        const double ms = paint.nsecsElapsed() / 1e6;
        slowestPaint = std::max(slowestPaint, ms);
        totalPaint += ms;
        ++paints;
        if (!view.tiles().visibleReady()) ++blankPaints;
        app.processEvents(QEventLoop::AllEvents, 2);
        peakCache = std::max(peakCache, view.tiles().cachedBytes());
        if (view.currentPageIndex() + 1 >= (lastPage + 1) * nextSample / 10) {
            const struct mallinfo2 heap = mallinfo2();
            std::printf("  page %d: resident %.1f MB; heap in use %.1f MB (%.1f MB mapped alone), free in arenas %.1f "
                        "MB; tiles %.1f MB\n",
                        view.currentPageIndex() + 1, statusMegabytes("VmRSS:"),
                        (heap.uordblks + heap.hblkhd) / 1048576.0, heap.hblkhd / 1048576.0, heap.fordblks / 1048576.0,
                        view.tiles().cachedBytes() / 1048576.0);
            std::fflush(stdout);
            ++nextSample;
        }
    }
    while (!view.tiles().visibleReady()) app.processEvents(QEventLoop::AllEvents, 5);
    const double scrolled = timer.nsecsElapsed() / 1e6;
    std::printf("scroll: %d paints in %.0f ms to page %d; paint mean %.2f ms, slowest %.2f ms; "
                "%d paints showed placeholders for tiles still rendering\n",
                paints, scrolled, view.currentPageIndex() + 1, totalPaint / std::max(1, paints), slowestPaint,
                blankPaints);
    std::printf("tile cache: peak %.1f MB of a %.0f MB budget\n", peakCache / 1048576.0,
                view.tiles().budget() / 1048576.0);
    const double scrollPeak = statusMegabytes("VmHWM:");
    std::printf("resident at the end of the scroll: %.1f MB (%.1f MB after the first screens)\n",
                statusMegabytes("VmRSS:"), firstScreensRss);
    std::printf("peak resident memory after the scroll: %.1f MB (target under 400 MB) %s\n", scrollPeak,
                scrollPeak < 400 ? "ok" : "OVER");
    std::fflush(stdout);
    // ------------------------------------------------ save
    if (measureSave) {
        QTemporaryDir out;
        const QString target = QDir(out.path()).filePath(QStringLiteral("saved.pdf"));
        quarnkit::DocumentSaver saver;
        QElapsedTimer beat;
        double longestStall = 0;
        int beats = 0;
        QTimer heartbeat;
        heartbeat.setInterval(1);
        QObject::connect(&heartbeat, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, beat.nsecsElapsed() / 1e6);
            beat.restart();
            ++beats;
            // The user keeps reading while the file is written.
            bar->setValue(bar->value() > step ? bar->value() - step : bar->maximum());
            view.viewport()->repaint();
        });
        timer.restart();
        beat.start();
        heartbeat.start();
        saver.start(document, *platform::ChosenFile::ask(QFile::encodeName(target).toStdString(),
                                                         [](const platform::NameSeen&) { return true; }));
        const quarnkit::DocumentSaver::Outcome outcome = saver.waitForFinished();
        heartbeat.stop();
        longestStall = std::max(longestStall, beat.nsecsElapsed() / 1e6);
        std::printf("save: %d pages written in %.0f ms on a worker (%s); longest UI-thread stall during the save: "
                    "%.1f ms over %d heartbeats\n",
                    view.pageCount(), timer.nsecsElapsed() / 1e6, outcome.error ? "FAILED" : "ok", longestStall, beats);
    }

    // MuPDF writes into the file as it makes the bytes: the save adds what
    // writing reads of the document, not the file's size.
    if (measureSave) std::printf("peak resident memory with the save: %.1f MB\n", statusMegabytes("VmHWM:"));
    return 0;
}
