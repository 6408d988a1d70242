// ravlen-explore-bench [--files N] [--readers K] [--runs R]
//
// The file index at the size of a real home folder: N generated PDFs (10,000;
// varied names, titles and text, one to three pages) in a tree of folders,
// indexed from nothing by the indexer as the application runs it (K reader
// processes at idle priority; by default as many as the application takes),
// against `pdftotext` of the same files with K processes at the same
// priority. Then a names query and a contents query through the search
// source, R times each (7), the median reported; and how long a PDF copied
// into a watched folder takes to show in an open search.
//
// The last line reads: explore-query NAME_MS CONTENTS_MS at N files.
#include "Platform/Metadata.h"
#include "Platform/MetadataIndexer.h"
#include "QuarnKit/Explore/ExploreIndex.h"
#include "QuarnKit/Explore/IndexSearch.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using quarnkit::ExploreRequest;

// ---------------------------------------------------------------- the tree

// Pseudo-words from syllables, a few with accents (written in WinAnsi, so
// the text holds "é" and the name "e" with its accent in UTF-8).
struct Vocabulary {
    std::vector<std::string> pdfWords;  // as the content stream writes them
    std::vector<std::string> nameWords; // as a file name writes them
};

Vocabulary makeVocabulary(std::mt19937& random)
{
    static const char* syllables[] = {"ka", "lo", "mer", "tin", "sa", "vo",  "dri", "pel", "an",  "qua", "ros", "bel",
                                      "to", "ni", "gar", "fen", "ul", "ced", "mo",  "rax", "ple", "si",  "dun", "ho"};
    Vocabulary v;
    for (int i = 0; i < 3000; ++i) {
        std::string word;
        const int parts = 2 + int(random() % 3);
        for (int p = 0; p < parts; ++p) word += syllables[random() % std::size(syllables)];
        v.pdfWords.push_back(word);
        v.nameWords.push_back(word);
    }
    // Plain English words people search for, and accented ones.
    for (const char* word : {"report", "invoice", "contract", "manual", "thesis", "budget", "minutes", "receipt"}) {
        v.pdfWords.push_back(word);
        v.nameWords.push_back(word);
    }
    v.pdfWords.push_back("caf\\351");
    v.nameWords.push_back("café");
    v.pdfWords.push_back("r\\351sum\\351");
    v.nameWords.push_back("résumé");
    return v;
}

std::string pdfWithText(const std::vector<std::string>& pageTexts, const std::string& title)
{
    std::vector<std::string> objects;
    std::string kids;
    for (std::size_t i = 0; i < pageTexts.size(); ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pageTexts.size()) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    for (std::size_t i = 0; i < pageTexts.size(); ++i) {
        const std::string& content = pageTexts[i];
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                          "/Contents "
                          + std::to_string(5 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    std::string trailer;
    if (!title.empty()) {
        objects.push_back("<< /Title (" + title + ") /Producer (ravlen-explore-bench) >>");
        trailer = " /Info " + std::to_string(objects.size()) + " 0 R";
    }
    std::string out = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t off : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + trailer + " >>\nstartxref\n"
           + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

// N files in folders of a hundred, two levels deep, as a home folder holds them.
std::vector<std::string> generateTree(const QString& root, int files, std::int64_t& bytes)
{
    std::mt19937 random(28);
    const Vocabulary v = makeVocabulary(random);
    const auto pick = [&](const std::vector<std::string>& from) -> const std::string& {
        return from[random() % from.size()];
    };
    std::vector<std::string> paths;
    bytes = 0;
    for (int i = 0; i < files; ++i) {
        const QString folder = root + QString("/Area %1/Project %2").arg(i / 2000).arg(i / 100);
        QDir().mkpath(folder);
        std::string name;
        for (int w = 0, n = 2 + int(random() % 3); w < n; ++w) name += (w ? " " : "") + pick(v.nameWords);
        name += " " + std::to_string(i) + ".pdf";
        std::string title;
        if (random() % 3 != 0)
            for (int w = 0, n = 3 + int(random() % 3); w < n; ++w) title += (w ? " " : "") + pick(v.pdfWords);
        std::vector<std::string> pages(1 + random() % 3);
        for (std::string& page : pages) {
            page = "BT /F1 11 Tf 14 TL 72 720 Td";
            for (int line = 0; line < 30; ++line) {
                std::string text;
                for (int w = 0; w < 12; ++w) text += (w ? " " : "") + pick(v.pdfWords);
                page += " (" + text + ") '";
            }
            page += " ET";
        }
        const std::string pdf = pdfWithText(pages, title);
        const std::string path = (folder + "/").toStdString() + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(pdf.data(), 1, pdf.size(), f) != pdf.size()) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            std::exit(1);
        }
        std::fclose(f);
        bytes += std::int64_t(pdf.size());
        paths.push_back(path);
    }
    return paths;
}

// ---------------------------------------------------------------- timing

double cpuSeconds(int who)
{
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// pdftotext FILE /dev/null for every file, K at a time, each at idle priority
// as the index's readers run. Returns false when pdftotext cannot run.
bool runPdftotext(const std::vector<std::string>& files, int parallel)
{
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sched_param param{};
    posix_spawnattr_setschedpolicy(&attr, SCHED_IDLE);
    posix_spawnattr_setschedparam(&attr, &param);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSCHEDULER);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::size_t next = 0;
    int running = 0;
    bool ok = true;
    while (next < files.size() || running > 0) {
        while (running < parallel && next < files.size()) {
            char program[] = "pdftotext", devnull[] = "/dev/null";
            char* argv[] = {program, const_cast<char*>(files[next].c_str()), devnull, nullptr};
            pid_t pid;
            if (::posix_spawnp(&pid, "pdftotext", &actions, &attr, argv, environ) != 0) {
                ok = false;
                next = files.size();
                break;
            }
            ++next;
            ++running;
        }
        if (running == 0) break;
        int status = 0;
        if (::wait(&status) > 0) {
            --running;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ok = false;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return ok;
}

// One search through the source, from start to its snapshot.
double searchMs(quarnkit::IndexSearch& source, const ExploreRequest& request, quarnkit::ExploreSnapshot& result)
{
    QElapsedTimer clock;
    clock.start();
    bool done = false;
    source.start(request, [&](const quarnkit::ExploreSnapshot& s) {
        result = s;
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    const double ms = clock.nsecsElapsed() / 1e6;
    source.stop();
    return ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int files = 10000, runs = 7;
    int readers = quarnkit::ExploreIndex::indexerOptions().readers;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--files")) files = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--readers")) readers = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--runs")) runs = std::max(1, std::atoi(argv[i + 1]));
    }
    QTemporaryDir scratch;
    const QString home = scratch.filePath("home");
    const std::string indexPath = scratch.filePath("cache/ravlen/index.sqlite").toStdString();

    QElapsedTimer clock;
    clock.start();
    std::int64_t bytes = 0;
    const std::vector<std::string> paths = generateTree(home, files, bytes);
    std::printf("generated %d PDFs (%.1f MB) in %.1f s\n", files, bytes / 1e6, clock.nsecsElapsed() / 1e9);
    std::fflush(stdout);

    // ravlen: the indexer from an empty index to a complete one.
    platform::MetadataIndexerOptions options;
    options.indexPath = indexPath;
    options.roots = {home.toStdString()};
    options.readerPath = RAVLEN_INDEX_READER;
    options.readers = readers;
    auto indexer = std::make_unique<platform::MetadataIndexer>(options);
    const double cpuBefore = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN);
    clock.restart();
    indexer->start();
    platform::MetadataIndex index(indexPath);
    while (!index.isComplete()) QThread::msleep(20);
    const double indexSeconds = clock.nsecsElapsed() / 1e9;
    const std::int64_t indexed = index.count();

    // The copy of a file into a watched folder, until the open search shows it.
    double liveMs = -1;
    {
        quarnkit::IndexSearch live({indexPath,
                                    300,
                                    quarnkit::ExploreExclusions(home, {}),
                                    {home, "", "", ""},
                                    quarnkit::LastUsedDates("", "")});
        bool seen = false;
        live.start({"copiedlate"}, [&](const quarnkit::ExploreSnapshot& s) {
            if (s.total > 0) seen = true;
        });
        QThread::msleep(200);
        QCoreApplication::processEvents();
        clock.restart();
        QFile::copy(QString::fromStdString(paths.front()), home + "/Area 0/Project 0/copiedlate.pdf");
        while (!seen && clock.elapsed() < 10000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
        if (seen) liveMs = clock.nsecsElapsed() / 1e6;
    }
    indexer.reset(); // the readers end, so that their time is counted
    const double indexCpu = cpuSeconds(RUSAGE_SELF) + cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    const QFileInfo database(QString::fromStdString(indexPath));
    std::printf("ravlen index: %lld files in %.1f s, %d readers at idle priority: %.2f ms per file, %.2f ms CPU per "
                "file; index %.1f MB, log %.1f MB\n",
                static_cast<long long>(indexed), indexSeconds, readers, indexSeconds * 1000 / files,
                indexCpu * 1000 / files, database.size() / 1e6, QFileInfo(database.filePath() + "-wal").size() / 1e6);

    // pdftotext of the same files, as many at once, at the same priority.
    const double textCpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    clock.restart();
    if (runPdftotext(paths, readers)) {
        const double seconds = clock.nsecsElapsed() / 1e9;
        const double cpu = cpuSeconds(RUSAGE_CHILDREN) - textCpuBefore;
        std::printf("pdftotext:    %d files in %.1f s, %d processes at idle priority: %.2f ms per file, %.2f ms CPU "
                    "per file\n",
                    files, seconds, readers, seconds * 1000 / files, cpu * 1000 / files);
        std::printf("indexing per file against pdftotext: %.2fx the time\n", indexSeconds / seconds);
    } else {
        std::printf("pdftotext:    skipped (not installed: apt-get install poppler-utils)\n");
    }
    if (liveMs >= 0)
        std::printf("a PDF copied into a watched folder showed in the open search after %.0f ms\n", liveMs);
    else std::printf("a PDF copied into a watched folder did not show within 10 s\n");

    // The queries, through the search source as a window runs them.
    quarnkit::IndexSearch source(
        {indexPath, 300, quarnkit::ExploreExclusions(home, {}), {home, "", "", ""}, quarnkit::LastUsedDates("", "")});
    const auto measure = [&](const ExploreRequest& request, const char* what) {
        quarnkit::ExploreSnapshot result;
        searchMs(source, request, result); // the first opens the index
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) times.push_back(searchMs(source, request, result));
        const double ms = median(times);
        std::printf("%s query \"%s\": %lld found, %zu listed, %.1f ms (median of %d)\n", what,
                    request.text.toUtf8().constData(), static_cast<long long>(result.total), result.items.size(), ms,
                    runs);
        return ms;
    };
    // The first letters of a word, found in half the names; then a word
    // beginning found in three quarters of the texts.
    const double namesMs =
        measure({"ka", quarnkit::ExploreMode::names, quarnkit::ExploreLocation::all, quarnkit::ExploreSort::lastOpened},
                "names");
    const double contentsMs =
        measure({"kalo", quarnkit::ExploreMode::contents, quarnkit::ExploreLocation::all, quarnkit::ExploreSort::name},
                "contents");
    std::printf("explore-query %.1f %.1f at %lld files\n", namesMs, contentsMs, static_cast<long long>(indexed));
    return 0;
}
