// ravlen-sidebar-bench [--pages N] [FILE.pdf]
//
// A long document opened in a window with the page list showing:
// 1. Fill: the time from the window shown to its page list (made once its
//    first page is painted, when the window fills in), to the first
//    thumbnail, and to every visible row holding the current thumbnail of
//    its page.
// 2. Scroll: the list from the first row to the last, a third of its height per
//    step; the slowest step on the UI thread (which records pages but never
//    waits for a render), and the thumbnails rendered on the way.
// 3. The thumbnail cache's peak cost against its limit.
// 4. Marks list: the document again with a mark on every page, its list
//    shown; the time until every mark is listed, and the UI thread's longest
//    stretch of work between two turns of its event loop meanwhile (its own
//    processor time, so that a busy machine does not count).
//
// Without FILE, or when FILE does not exist yet, a document of N pages (1,000)
// is built there from the corpus by ravlen-makebig.
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Pages/PageListController.h"
#include "Quarn/Pages/PageTableView.h"
#include "Quarn/Pages/ThumbnailStore.h"
#include "Quarn/App/ViewerScreen.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QUndoStack>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Every visible row shows a current thumbnail of its page.
bool visibleRowsFilled(quarn::PageTableView& table, quarn::ThumbnailStore& store)
{
    const auto [first, end] = table.visibleRows();
    if (end <= first) return false;
    for (int row = first; row < end; ++row)
        if (table.model()->index(row, 0).data(quarn::pageImageRole).value<QImage>().isNull()) return false;
    return store.idle();
}

// This thread's processor time, in milliseconds.
double threadMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int pages = 1000;
    QString path;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::atoi(argv[++i]);
        else path = QString::fromLocal8Bit(argv[i]);
    }
    QTemporaryDir scratch;
    if (path.isEmpty()) path = QDir(scratch.path()).filePath(QStringLiteral("long.pdf"));
    if (!QFileInfo::exists(path)) {
        std::printf("building a %d-page document from the corpus…\n", pages);
        if (QProcess::execute(QStringLiteral(RAVLEN_MAKEBIG),
                              {QString::number(pages), path, QStringLiteral(RAVLEN_CORPUS_DIR)})
            != 0)
            return 1;
    }

    platform::UserDefaults defaults(QDir(scratch.path()).filePath(QStringLiteral("defaults.json")));
    quarnkit::ReadingPositionStore positions(defaults);

    QElapsedTimer timer;
    timer.start();
    auto document = quarnkit::QuarnDocument::open(path);
    quarn::ViewerScreen screen(document.get(), path, nullptr, &defaults, &positions);
    screen.resize(1180, 800);
    screen.show();
    const double shown = timer.nsecsElapsed() / 1e6;
    // The list is made when the window fills in, after its first page.
    QElapsedTimer waited;
    waited.start();
    while (!screen.filledIn() && waited.elapsed() < 30000) app.processEvents(QEventLoop::AllEvents, 1);
    const double madeList = timer.nsecsElapsed() / 1e6;
    auto* table = screen.findChild<quarn::PageTableView*>();
    quarn::ThumbnailStore& store = quarn::PagesModel::of(screen.model()).thumbnails();
    if (!table) {
        std::fprintf(stderr, "no page list in the window %.0f ms after it showed\n", madeList - shown);
        return 1;
    }
    double firstThumbnail = -1;
    while (!visibleRowsFilled(*table, store)) {
        app.processEvents(QEventLoop::AllEvents, 5);
        if (firstThumbnail < 0 && store.scheduler().cost() > 0) firstThumbnail = timer.nsecsElapsed() / 1e6;
    }
    const double filled = timer.nsecsElapsed() / 1e6;
    const auto [first, end] = table->visibleRows();
    std::printf("document: %s, %d pages\n", qPrintable(path), document->pageCount());
    std::printf("window shown: %.1f ms; page list made: %.1f ms; first thumbnail: %.1f ms; "
                "%d visible rows filled: %.1f ms\n",
                shown, madeList, firstThumbnail, end - first, filled);
    // From the window shown to the first thumbnail, on a line of its own.
    std::printf("first-thumbnail-%d ms %.0f\n", document->pageCount(), firstThumbnail - shown);

    // ------------------------------------------------ scroll
    QScrollBar* bar = table->verticalScrollBar();
    const int step = std::max(1, table->viewport()->height() / 3);
    double slowest = 0, total = 0;
    int steps = 0, renders = 0;
    QObject::connect(&store, &quarn::ThumbnailStore::renderFinished, [&] { ++renders; });
    timer.restart();
    while (bar->value() < bar->maximum()) {
        QElapsedTimer one;
        one.start();
        bar->setValue(std::min(bar->maximum(), bar->value() + step));
        table->viewport()->repaint();
        app.processEvents(QEventLoop::AllEvents, 2);
        const double ms = one.nsecsElapsed() / 1e6;
        slowest = std::max(slowest, ms);
        total += ms;
        ++steps;
    }
    while (!visibleRowsFilled(*table, store)) app.processEvents(QEventLoop::AllEvents, 5);
    std::printf("scroll to the end: %d steps in %.0f ms; UI step mean %.2f ms, slowest %.2f ms; "
                "%d thumbnails rendered on the way (the rest were dropped as they scrolled away)\n",
                steps, timer.nsecsElapsed() / 1e6, total / std::max(1, steps), slowest, renders);
    std::printf("thumbnail cache: peak %.2f MB of its %.0f MB cost limit %s\n",
                store.scheduler().peakCost() / 1048576.0, quarnkit::ThumbnailScheduler::costLimit / 1048576.0,
                store.scheduler().peakCost() <= quarnkit::ThumbnailScheduler::costLimit ? "ok" : "OVER");

    // ------------------------------------------------ marks list
    const auto marked = platform::PdfDocument::openFile(path.toStdString());
    for (int page = 0; page < marked->pageCount(); ++page) {
        platform::PdfAnnotation square;
        square.subtype = "Square";
        square.rect = {20, 20, 60, 60};
        platform::PdfAnnotations::add(*marked, page, square);
    }
    quarnkit::QuarnDocument markedDocument(marked);
    quarn::ViewerModel model(&defaults, &positions);
    model.setDocument(&markedDocument);
    quarn::MarksList list(&model, &markedDocument);
    list.resize(260, 800);
    double last = threadMs(), longest = 0;
    QTimer turns;
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const double now = threadMs();
        longest = std::max(longest, now - last);
        last = now;
    });
    turns.start(2);
    timer.restart();
    list.show();
    while (!list.loaded() || list.reading()) app.processEvents(QEventLoop::AllEvents, 2);
    longest = std::max(longest, threadMs() - last);
    std::printf("marks list: %zu pages of marks listed in %.0f ms; the UI thread's longest stretch between turns "
                "%.1f ms\n",
                list.groups().size(), timer.nsecsElapsed() / 1e6, longest);
    return 0;
}
