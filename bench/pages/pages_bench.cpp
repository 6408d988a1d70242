// ravlen-pages-bench [--runs R] [--pages N]
//
// Deleting every page but the first of an N-page document (5,000) as the
// Pages menu deletes them: one undo step on the document's own stack, then
// the outline read again as the sidebar reads it after a page edit; and the
// undo that puts them back. The same document with an outline of N entries,
// one per page, and without one, in turns in the same run (medians). Prints
// `pages-delete-outline ratio R` (with ÷ without: at most 1.2 is the budget):
// what leads to the pages taken out is found in one walk of the document
// per edit, whatever their number.
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

// N blank pages in a flat tree; with `outlined`, an outline entry per page
// ("Section i", leading to page i).
QByteArray longPdf(int pages, bool outlined)
{
    std::vector<std::string> objects = {
        std::string("<< /Type /Catalog /Pages 2 0 R") + (outlined ? " /Outlines 3 0 R" : "") + " >>", "", ""};
    const int firstPage = 4, firstEntry = firstPage + pages;
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        kids += std::to_string(firstPage + i) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R >>");
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " /MediaBox [0 0 300 300] >>";
    objects[2] = "<< /Type /Outlines /First " + std::to_string(firstEntry) + " 0 R /Last "
                 + std::to_string(firstEntry + pages - 1) + " 0 R /Count " + std::to_string(pages) + " >>";
    for (int i = 0; outlined && i < pages; ++i) {
        std::string entry = "<< /Title (Section " + std::to_string(i + 1) + ") /Parent 3 0 R /Dest ["
                            + std::to_string(firstPage + i) + " 0 R /Fit]";
        if (i > 0) entry += " /Prev " + std::to_string(firstEntry + i - 1) + " 0 R";
        if (i + 1 < pages) entry += " /Next " + std::to_string(firstEntry + i + 1) + " 0 R";
        objects.push_back(entry + " >>");
    }
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3, pages = 5000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::max(2, std::atoi(argv[++i]));
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
    return 0;
}
