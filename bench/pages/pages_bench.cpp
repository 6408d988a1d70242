// ravlen-pages-bench [--runs R] [--pages N] [--save-pages S]
//
// Deleting every page but the first of an N-page document (5,000) as the
// Pages menu deletes them: one undo step on the document's own stack, then
// the outline read again as the sidebar reads it after a page edit; and the
// undo that puts them back. The same document with an outline of N entries,
// one per page, and without one, in turns in the same run (medians). Prints
// `pages-delete-outline ratio R` (with ÷ without: at most 1.2 is the budget):
// what leads to the pages taken out is found in one walk of the document
// per edit, whatever their number.
//
// Then one page deleted from an S-page document (20,000) and saved as the
// window saves it: its question whether an update keeps removed pages, then
// the saver's worker. The same pages in one flat /Kids array, as many
// producers write them, and in a balanced tree, in turns in the same run.
// Prints `pages-save-flat ratio R` (flat ÷ balanced: at most 1.5 is the
// budget): a save walks the tree once, and asks nothing whose cost grows
// with the pages of the window's thread.
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/OutlineMap.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Pages/PageEdits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUndoStack>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// N blank pages: in one flat /Kids array, or with `fanout`, in a balanced
// tree of that many kids a node; with `outlined`, an outline entry per page
// ("Section i", leading to page i).
QByteArray longPdf(int pages, bool outlined, int fanout = 0)
{
    std::vector<std::string> objects = {
        std::string("<< /Type /Catalog /Pages 2 0 R") + (outlined ? " /Outlines 3 0 R" : "") + " >>", "", ""};
    const int firstPage = 4, firstEntry = firstPage + pages;
    std::vector<int> parent(size_t(firstEntry), 2); // by object number
    for (int i = 0; i < pages; ++i) objects.push_back("");
    for (int i = 0; outlined && i < pages; ++i) {
        std::string entry = "<< /Title (Section " + std::to_string(i + 1) + ") /Parent 3 0 R /Dest ["
                            + std::to_string(firstPage + i) + " 0 R /Fit]";
        if (i > 0) entry += " /Prev " + std::to_string(firstEntry + i - 1) + " 0 R";
        if (i + 1 < pages) entry += " /Next " + std::to_string(firstEntry + i + 1) + " 0 R";
        objects.push_back(entry + " >>");
    }
    // Each level's nodes, by object number and page count, up to the root's kids.
    std::vector<std::pair<int, int>> level;
    for (int i = 0; i < pages; ++i) level.emplace_back(firstPage + i, 1);
    std::vector<std::string> bodies; // a node's kids and count, by object number
    const auto adopt = [&](size_t from, size_t to, int node) {
        std::string kids;
        int count = 0;
        for (size_t k = from; k < to; ++k) {
            kids += std::to_string(level[k].first) + " 0 R ";
            count += level[k].second;
            if (size_t(level[k].first) >= parent.size()) parent.resize(size_t(level[k].first) + 1);
            parent[size_t(level[k].first)] = node;
        }
        if (size_t(node) >= bodies.size()) bodies.resize(size_t(node) + 1);
        bodies[size_t(node)] = "/Kids [" + kids + "] /Count " + std::to_string(count);
        return count;
    };
    while (fanout > 1 && int(level.size()) > fanout) {
        std::vector<std::pair<int, int>> up;
        for (size_t from = 0; from < level.size(); from += size_t(fanout)) {
            objects.emplace_back();
            const int node = int(objects.size());
            up.emplace_back(node, adopt(from, std::min(level.size(), from + size_t(fanout)), node));
        }
        level = std::move(up);
    }
    adopt(0, level.size(), 2);
    for (size_t num = firstPage; num <= objects.size(); ++num) {
        std::string& object = objects[num - 1];
        if (num < size_t(firstEntry)) object = "<< /Type /Page /Parent " + std::to_string(parent[num]) + " 0 R >>";
        else if (num < bodies.size() && !bodies[num].empty())
            object = "<< /Type /Pages /Parent " + std::to_string(parent[num]) + " 0 R " + bodies[num] + " >>";
    }
    objects[1] = "<< /Type /Pages " + bodies[2] + " /MediaBox [0 0 300 300] >>";
    objects[2] = "<< /Type /Outlines /First " + std::to_string(firstEntry) + " 0 R /Last "
                 + std::to_string(firstEntry + pages - 1) + " 0 R /Count " + std::to_string(pages) + " >>";
    std::string pdf = "%PDF-1.7\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t table = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[21];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n"
           + std::to_string(table) + "\n%%EOF\n";
    return QByteArray::fromStdString(pdf);
}

struct Times {
    std::vector<double> deleted, undone;
};

// Opens `path`, deletes every page but the first, reads the outline, undoes.
bool timeOnce(const QString& path, Times& times)
{
    try {
        auto document = quarnkit::QuarnDocument::open(path);
        std::set<int> all;
        for (int i = 1; i < document->pageCount(); ++i) all.insert(i);
        QElapsedTimer timer;
        timer.start();
        if (!quarnkit::PageEdits::deletePages(*document, all)) return false;
        const quarnkit::OutlineMap afterDelete(*document);
        times.deleted.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        document->undoStack().undo();
        const quarnkit::OutlineMap afterUndo(*document);
        times.undone.push_back(double(timer.nsecsElapsed()) / 1e6);
        return document->pageCount() == int(all.size()) + 1
               && afterDelete.entries().size() == afterUndo.entries().size();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), e.what());
        return false;
    }
}

struct SaveTimes {
    std::vector<double> asked, saved; // the window's question; the whole save
};

// Copies `original` to `path`, opens it, deletes its middle page and saves it
// as the window does: the question, then the saver, waited for.
bool timeSave(const QString& original, const QString& path, SaveTimes& times)
{
    try {
        QFile::remove(path);
        if (!QFile::copy(original, path)) return false;
        auto document = quarnkit::QuarnDocument::open(path);
        const int pages = document->pageCount();
        if (!quarnkit::PageEdits::deletePages(*document, {pages / 2})) return false;
        quarnkit::DocumentSaver saver;
        QElapsedTimer timer;
        timer.start();
        if (document->saveKeepsRemovedPages()) document->acceptKeptPages();
        times.asked.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (!saver.start(*document, quarnkit::documentFile(*document, path))) return false;
        const quarnkit::DocumentSaver::Outcome outcome = saver.waitForFinished();
        times.saved.push_back(double(timer.nsecsElapsed()) / 1e6);
        if (outcome.error) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(path), outcome.error->reason().c_str());
            return false;
        }
        return quarnkit::QuarnDocument::open(path)->pageCount() == pages - 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), e.what());
        return false;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3, pages = 5000, savePages = 20000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::max(2, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--save-pages") && i + 1 < argc) savePages = std::max(2, std::atoi(argv[++i]));
    }
    QTemporaryDir scratch;
    const QString plain = QDir(scratch.path()).filePath(QStringLiteral("plain.pdf"));
    const QString outlined = QDir(scratch.path()).filePath(QStringLiteral("outlined.pdf"));
    for (const auto& [path, withOutline] : {std::pair{plain, false}, std::pair{outlined, true}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(longPdf(pages, withOutline)) < 0) return 1;
    }
    Times with, without;
    for (int run = 0; run < runs; ++run)
        if (!timeOnce(plain, without) || !timeOnce(outlined, with)) return 1;
    const double a = median(with.deleted), b = median(without.deleted);
    std::printf("pages-delete-outline: %d of %d pages deleted with %d outline entries %.0f ms, without an outline "
                "%.0f ms; undone %.0f ms and %.0f ms (medians of %d)\n",
                pages - 1, pages, pages, a, b, median(with.undone), median(without.undone), runs);
    std::printf("pages-delete-outline ratio %.2f\n", a / b);
    std::fflush(stdout);

    const QString flat = QDir(scratch.path()).filePath(QStringLiteral("flat.pdf"));
    const QString balanced = QDir(scratch.path()).filePath(QStringLiteral("balanced.pdf"));
    for (const auto& [path, fanout] : {std::pair{flat, 0}, std::pair{balanced, 32}}) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(longPdf(savePages, false, fanout)) < 0) return 1;
    }
    const QString saved = QDir(scratch.path()).filePath(QStringLiteral("saved.pdf"));
    SaveTimes flatTimes, balancedTimes;
    for (int run = 0; run < runs; ++run)
        if (!timeSave(flat, saved, flatTimes) || !timeSave(balanced, saved, balancedTimes)) return 1;
    const double f = median(flatTimes.saved), t = median(balancedTimes.saved);
    std::printf("pages-save-flat: 1 of %d pages deleted and saved, flat page list %.0f ms (asked on the window's "
                "thread %.1f ms), balanced tree %.0f ms (%.1f ms) (medians of %d)\n",
                savePages, f, median(flatTimes.asked), t, median(balancedTimes.asked), runs);
    std::printf("pages-save-flat ratio %.2f\n", f / t);
    return 0;
}
