// ravlen-find-bench [--pages N] [--word WORD] [--runs R] [--cpus LIST] [FILE.pdf]
//
// Find across a long document on equal cores: the bench binds itself to the
// cores in LIST (taskset's form; 0-3 by default, every core when the machine
// has fewer). The time, for the whole process, from start to every match of
// WORD known (the search's end) with one reader per core, against as many
// `mutool draw -F txt -o /dev/null` processes, each reading its share of the
// pages, on the same cores in the same run. Each side runs R times (3) in
// fresh processes; the best time of each is compared. Also reports when the
// first batch of matches arrived and how many batches came. The last line
// reads "find-equal-cores ratio R" (ravlen's time ÷ mutool's).
//
// Without FILE, or when FILE does not exist yet, a document of N pages
// (1,000) is built there by repeating the corpus's four-page LaTeX sample,
// on every page of which WORD ("information") occurs.
#include "bench/BenchMachine.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfPageAssembly.h"
#include "QuarnKit/Document/DocumentSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <memory>
#include <vector>

namespace {

bool buildLongDocument(int pages, const std::string& path)
{
    const std::string source = std::string(RAVLEN_CORPUS_DIR) + "/pdflatex-4-pages.pdf";
    try {
        const auto sample = platform::PdfDocument::openFile(source);
        auto big = platform::PdfDocument::createEmpty();
        for (int have = 0; have < pages;) {
            const int count = std::min(sample->pageCount(), pages - have);
            platform::appendPages(*big, *sample, 0, count);
            have += count;
        }
        big->saveToFile(*platform::ChosenFile::ask(path, [](const platform::NameSeen&) { return true; }));
        return true;
    } catch (const platform::PdfError& error) {
        std::fprintf(stderr, "cannot build the document from %s\n", source.c_str());
        return false;
    }
}

// The measured side: open, search, wait for the end. Prints one line:
// matches, pages with a match, batches, seconds to the first batch.
int searchOnce(const std::string& path, const QString& word, int readers)
{
    QElapsedTimer clock;
    clock.start();
    std::shared_ptr<platform::PdfDocument> document;
    try {
        document = platform::PdfDocument::openFile(path);
    } catch (const platform::PdfError&) {
        return 1;
    }
    quarnkit::DocumentSearch search(document, readers);
    std::size_t matches = 0;
    int batches = 0;
    double firstBatch = -1;
    std::set<int> pages;
    search.start(
        word, quarnkit::FindOptions{},
        [&](const std::vector<quarnkit::SearchMatch>& batch) {
            if (firstBatch < 0) firstBatch = clock.nsecsElapsed() / 1e9;
            ++batches;
            matches += batch.size();
            for (const auto& match : batch) pages.insert(match.page);
        },
        [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    std::printf("%zu %zu %d %.4f\n", matches, pages.size(), batches, firstBatch);
    return 0;
}

// Wall-clock seconds until `processes` mutool processes, started at once, have
// read the text of their shares of the pages; a negative number on failure.
double mutoolSeconds(const QString& mutool, const QString& file, int pages, int processes)
{
    QElapsedTimer timer;
    timer.start();
    std::vector<std::unique_ptr<QProcess>> running;
    for (int p = 0; p < processes; ++p) {
        const int first = pages * p / processes + 1, last = pages * (p + 1) / processes;
        if (first > last) continue;
        auto process = std::make_unique<QProcess>();
        process->start(mutool, {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-F"),
                                QStringLiteral("txt"), QStringLiteral("-o"), QStringLiteral("/dev/null"), file,
                                QStringLiteral("%1-%2").arg(first).arg(last)});
        running.push_back(std::move(process));
    }
    for (auto& process : running)
        if (!process->waitForFinished(600000) || process->exitStatus() != QProcess::NormalExit
            || process->exitCode() != 0)
            return -1;
    return timer.nsecsElapsed() / 1e9;
}

// Wall-clock seconds of a child process, or a negative number on failure.
double timed(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return -1;
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (output) *output = process.readAllStandardOutput();
    return seconds;
}

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists: every one made later, and every child, inherits the cores.
    const char* cpus = "0-3";
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--cpus")) cpus = argv[i + 1];
    const int cores = bench::bindToCores(cpus);
    QCoreApplication app(argc, argv);
    int pages = 1000;
    int runs = 3;
    int readers = cores;
    QString word = QStringLiteral("information");
    std::string path;
    bool child = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--word") && i + 1 < argc) word = QString::fromLocal8Bit(argv[++i]);
        else if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--readers") && i + 1 < argc) readers = std::max(0, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--cpus") && i + 1 < argc) ++i;
        else if (!std::strcmp(argv[i], "--search-once")) child = true;
        else path = argv[i];
    }
    if (child) return searchOnce(path, word, readers);

    QTemporaryDir scratch;
    if (path.empty()) path = QDir(scratch.path()).filePath(QStringLiteral("long.pdf")).toStdString();
    if (!QFileInfo::exists(QString::fromStdString(path))) {
        std::printf("building a %d-page document…\n", pages);
        if (!buildLongDocument(pages, path)) return 1;
    }
    const QString file = QString::fromStdString(path);
    const QString mutool = QStandardPaths::findExecutable(QStringLiteral("mutool"));
    const int pageCount = platform::PdfDocument::openFile(path)->pageCount();

    double best = -1, bestMutool = -1;
    QByteArray report;
    for (int run = 0; run < runs; ++run) {
        QByteArray output;
        const double ours = timed(QCoreApplication::applicationFilePath(),
                                  {QStringLiteral("--search-once"), QStringLiteral("--word"), word,
                                   QStringLiteral("--readers"), QString::number(readers), file},
                                  &output);
        if (ours < 0) {
            std::fprintf(stderr, "the search failed\n");
            return 1;
        }
        if (best < 0 || ours < best) {
            best = ours;
            report = output;
        }
        if (!mutool.isEmpty()) {
            const double theirs = mutoolSeconds(mutool, file, pageCount, cores);
            if (theirs > 0 && (bestMutool < 0 || theirs < bestMutool)) bestMutool = theirs;
        }
    }
    std::size_t matches = 0, matchedPages = 0;
    int batches = 0;
    double firstBatch = -1;
    std::sscanf(report.constData(), "%zu %zu %d %lf", &matches, &matchedPages, &batches, &firstBatch);
    std::printf("document: %s (%d pages); %d cores, load average %s\n", path.c_str(), pageCount, cores,
                bench::loadAverage().c_str());
    std::printf("find \"%s\": %zu matches on %zu pages, %d batches, first batch after %.3f s\n",
                word.toLocal8Bit().constData(), matches, matchedPages, batches, firstBatch);
    if (bestMutool > 0) {
        std::printf("find-equal-cores: ravlen %.3f s with %d readers, peer %d mutool draw -F txt processes %.3f s "
                    "(best of %d)\n",
                    best, readers, cores, bestMutool, runs);
        std::printf("find-equal-cores ratio %.2f\n", best / bestMutool);
    } else {
        std::printf("every match known: %.3f s (best of %d); mutool not found: no ratio\n", best, runs);
    }
    return 0;
}
