// ravlen-history-bench [--entries N] [--slow-checks MS]
//
// A history of N entries (5,000, the most the history keeps), each a real
// file (hard links to one corpus PDF in a few folders, a tenth of them gone):
// 1. Load: history.json read, decoded and published by the library.
// 2. Group: the entries sorted into Today … Earlier.
// 3. Show: the History panel made, laid out and painted once.
// 4. Filter: "report 2023" typed into the search field key by key; each
//    key's time until the list is painted again.
// 5. Scroll: the list from top to end, a screen per step, while the rows'
//    files are checked (each check made MS slower, 20 by default, as on a
//    slow network mount) and their thumbnails drawn; the longest step on the
//    UI thread, which must never wait for either.
#include "Platform/UserDefaults.h"
#include "Quarn/History/HistoryList.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/History/LibraryThumbnails.h"
#include "Quarn/History/LibraryViews.h"
#include "QuarnKit/History/HistoryGrouping.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

namespace {

double ms(const QElapsedTimer& timer) { return timer.nsecsElapsed() / 1e6; }

// Runs the events waiting now, then paints `widget` at once.
void settle(QWidget& widget)
{
    QCoreApplication::processEvents();
    widget.repaint();
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int count = 5000;
    int slowMs = 20;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--entries") && i + 1 < argc) count = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--slow-checks") && i + 1 < argc) slowMs = std::atoi(argv[++i]);
    }

    QTemporaryDir scratch;
    const QString source = QStringLiteral(RAVLEN_CORPUS_DIR "/pdflatex-4-pages.pdf");
    const char* folders[] = {"Documents", "Documents/Reports 2023", "Downloads", "Work/Contracts", "Papers"};
    const char* names[] = {"report", "invoice", "notes", "paper", "contract", "minutes", "slides"};
    std::vector<quarnkit::HistoryEntry> entries;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < count; ++i) {
        const QString folder = scratch.filePath(QString::fromLatin1(folders[i % 5]));
        QDir().mkpath(folder);
        const QString path =
            QStringLiteral("%1/%2 %3 %4.pdf").arg(folder, QString::fromLatin1(names[i % 7])).arg(2015 + i % 10).arg(i);
        if (i % 10 != 9 && ::link(QFile::encodeName(source).constData(), QFile::encodeName(path).constData()) != 0)
            QFile::copy(source, path);
        // Newest first, spread over about three years.
        const QDateTime opened = now.addSecs(-qint64(i) * 20000);
        entries.push_back(
            {QUuid::createUuid(), path, std::nullopt,
             i % 3 == 0 ? std::optional<QString>(QStringLiteral("Title of document %1").arg(i)) : std::nullopt, 4,
             opened, opened, 1});
    }
    const QString data = scratch.filePath(QStringLiteral("data"));
    QDir().mkpath(data);
    {
        QFile file(data + QStringLiteral("/history.json"));
        file.open(QIODevice::WriteOnly);
        file.write(quarnkit::HistoryFile::encode(entries));
    }
    std::printf("history of %d entries (%lld KB of history.json)\n", count,
                QFileInfo(data + QStringLiteral("/history.json")).size() / 1024);

    platform::UserDefaults defaults(scratch.filePath(QStringLiteral("defaults.json")));
    quarnkit::ReadingPositionStore positions(defaults);

    QElapsedTimer timer;
    timer.start();
    quarnkit::HistoryLibrary library(std::make_unique<quarnkit::HistoryStore>(data), positions, defaults);
    std::printf("load (read, decode, publish):           %7.1f ms (%zu entries)\n", ms(timer),
                library.entries().size());

    timer.restart();
    const auto sections =
        quarnkit::HistoryGrouping::sections(library.entries(), now, quarnkit::LibraryCalendar::current());
    std::printf("group into periods:                     %7.1f ms (%zu sections)\n", ms(timer), sections.size());

    // Every check waits as on a slow mount; the UI thread must not notice.
    library.exists = [slowMs](const QString& path) {
        QThread::msleep(ulong(slowMs));
        return quarnkit::HistoryLocator::defaultExists(path);
    };
    quarn::LibraryThumbnails thumbnails(scratch.filePath(QStringLiteral("thumbnails")));
    timer.restart();
    quarn::HistoryPanel panel(library, nullptr, nullptr, &thumbnails);
    panel.resize(quarn::HistoryPanel::columnWidth, 760);
    panel.show();
    settle(panel);
    std::printf("show the panel (model, layout, paint):  %7.1f ms\n", ms(timer));

    // Typing: each key until the list is painted again.
    panel.searchField()->setFocus();
    double slowestKey = 0, allKeys = 0;
    const QString typed = QStringLiteral("report 2023");
    for (const QChar c : typed) {
        timer.restart();
        QTest::keyClick(panel.searchField(), c.toLatin1());
        settle(panel);
        slowestKey = std::max(slowestKey, ms(timer));
        allKeys += ms(timer);
    }
    int matching = 0;
    for (const auto& section : panel.listModel()->sections()) matching += int(section.entries.size());
    std::printf("filter \"%s\" key by key:          %7.1f ms a key on average, %.1f ms the slowest (%d match)\n",
                qPrintable(typed), allKeys / typed.size(), slowestKey, matching);
    timer.restart();
    panel.searchField()->clear();
    settle(panel);
    std::printf("clear the filter (all rows back):       %7.1f ms\n", ms(timer));

    // Scrolling while checks and thumbnails run.
    QScrollBar* bar = panel.list()->verticalScrollBar();
    double slowestStep = 0;
    int steps = 0;
    QElapsedTimer whole;
    whole.start();
    while (true) {
        timer.restart();
        bar->setValue(bar->value() + bar->pageStep());
        settle(panel);
        slowestStep = std::max(slowestStep, ms(timer));
        ++steps;
        if (bar->value() >= bar->maximum()) break;
    }
    std::printf("scroll to the end (%d screens):         %7.1f ms, the slowest step %.1f ms\n", steps, ms(whole),
                slowestStep);
    // Let the background work run on for a moment while the UI thread keeps turning.
    double slowestTurn = 0;
    for (int i = 0; i < 100; ++i) {
        timer.restart();
        QCoreApplication::processEvents();
        slowestTurn = std::max(slowestTurn, ms(timer));
        QThread::msleep(5);
    }
    std::printf(
        "UI thread while %d ms checks run:       the slowest turn %.1f ms; %zu files checked, %d thumbnails made\n",
        slowMs, slowestTurn, library.states().size(), thumbnails.count());
    return 0;
}
