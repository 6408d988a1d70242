// ravlen-save-bench [--runs R] [--pages N] [FILE.pdf]
//
// The cost of reading a saved file back (PdfReadBack.h): a long document,
// with a mark on its first page, saved over and over as the window saves it,
// in turns with and without the read-back, in the same run. Prints the
// medians and `save-readback ratio R` (with ÷ without: at most 1.33 is the
// budget). The same pages as another program writes them (qpdf, its objects
// packed into object streams), whose every object the read-back must read,
// give `save-readback-foreign ratio R`. The read-back holds each stream's
// data against the engine's where the copy does not store it as the file
// did, and reads what the change wrote whatever its bytes; it needs no
// comparison of the whole file.
//
// Without FILE, or when FILE does not exist yet, a document of N pages
// (5,000) is built there from the corpus by ravlen-makebig.
//
// The size of a one-edit save of files whose object numbers run high: each
// corpus file with an update appended whose document information is object
// 156,343 (so that the file spans 156,344 numbers and uses a few), saved
// with a mark as the window saves it and written into memory as Export and
// Share write it. Prints each file's sizes, `save-size ratio R` (the
// largest saved ÷ original of them all) and how many files a save makes
// larger than the budget, 1.3 × the original + 16 KB (none is the aim),
// beside the 20 bytes a number that a table of every number takes.
//
// The same save and export of every file of both corpora as it is, those
// whose objects sit in object streams included: prints the files beyond
// the budget and the five largest, `save-size-corpus ratio R` and how many
// are beyond the budget (none is the aim).
#include "Platform/PdfAnnotations.h"
#include "Platform/FileReplacement.h"
#include "Platform/PdfDocument.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Saves `path`'s document into `out` `runs` times each way, in turns; prints
// the medians and the ratio under `name`. False when a save fails.
bool timeSaves(const QString& path, const QString& out, int runs, const char* name)
{
    std::shared_ptr<platform::PdfDocument> doc;
    try {
        doc = platform::PdfDocument::openFile(QFile::encodeName(path).toStdString());
        doc->settle(1 << 30); // read whole first, as the window does on a worker
        platform::PdfAnnotation square;
        square.subtype = "Square";
        square.rect = {40, 40, 100, 100};
        square.color = platform::PdfColor{1, 0, 0};
        platform::PdfAnnotations::add(*doc, 0, square);
    } catch (const platform::PdfError& e) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), e.what());
        return false;
    }
    std::vector<double> with, without;
    for (int run = 0; run < runs; ++run) {
        for (const bool readBack : {false, true}) {
            platform::PdfSaveOptions options;
            options.garbageCollect = true; // as the window saves
            options.readBack = readBack;
            QElapsedTimer timer;
            timer.start();
            try {
                doc->saveToFile(*platform::ChosenFile::ask(QFile::encodeName(out).toStdString(),
                                                           [](const platform::NameSeen&) { return true; }),
                                options);
            } catch (const platform::PdfError& e) {
                std::fprintf(stderr, "saving %s: %s\n", qPrintable(path), e.what());
                return false;
            }
            (readBack ? with : without).push_back(double(timer.nsecsElapsed()) / 1e6);
        }
    }
    const double a = median(with), b = median(without);
    std::printf("%s: %d pages, %.1f MB; save with the read-back %.0f ms, without %.0f ms (medians of %d)\n", name,
                doc->pageCount(), double(QFileInfo(path).size()) / 1e6, a, b, runs);
    std::printf("%s ratio %.2f\n", name, a / b);
    return true;
}

// `pdf` with an update appended that makes its document information object
// `number`, listed by a table of two rows; empty where its trailer is not found.
QByteArray numberedHigh(const QByteArray& pdf, int number)
{
    const QString text = QString::fromLatin1(pdf);
    const auto last = [&](const char* pattern) {
        QString found;
        for (auto it = QRegularExpression(QString::fromLatin1(pattern)).globalMatch(text); it.hasNext();)
            found = it.next().captured(1);
        return found.toLatin1();
    };
    const QByteArray previous = last("startxref\\s+(\\d+)");
    const QByteArray root = last("/Root\\s*(\\d+\\s+\\d+\\s+R)");
    if (previous.isEmpty() || root.isEmpty() || pdf.contains("/Encrypt")) return {};
    QByteArray out = pdf.endsWith('\n') ? pdf : pdf + "\n";
    const qsizetype offset = out.size();
    out += QByteArray::number(number) + " 0 obj\n<< /Producer (numbers running high) >>\nendobj\n";
    const qsizetype table = out.size();
    out += "xref\n0 1\n0000000000 65535 f \n" + QByteArray::number(number) + " 1\n"
           + QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    out += "trailer\n<< /Size " + QByteArray::number(number + 1) + " /Root " + root + " /Info "
           + QByteArray::number(number) + " 0 R /Prev " + previous + " >>\nstartxref\n" + QByteArray::number(table)
           + "\n%%EOF\n";
    return out;
}

// The sizes of `path`'s document with a mark added, saved into `saved` and
// written into memory, as the window saves and exports; false, with why in
// `failure`, where it is not saved.
bool savedSizes(const QString& path, const QString& saved, qint64* written, qint64* exported, std::string* failure)
{
    try {
        auto doc = platform::PdfDocument::openFile(QFile::encodeName(path).toStdString());
        platform::PdfAnnotation square;
        square.subtype = "Square";
        square.rect = {40, 40, 100, 100};
        square.color = platform::PdfColor{1, 0, 0};
        platform::PdfAnnotations::add(*doc, 0, square);
        platform::PdfSaveOptions options;
        options.garbageCollect = true; // as the window saves and exports
        *exported = doc->save(options).size();
        doc->saveToFile(*platform::ChosenFile::ask(QFile::encodeName(saved).toStdString(),
                                                   [](const platform::NameSeen&) { return true; }),
                        options);
        *written = QFileInfo(saved).size();
        return true;
    } catch (const platform::PdfError& e) {
        *failure = e.what();
        return false;
    }
}

// Prints the size row over every file of both corpora; false when none saves.
bool corpusSizeRows(const QString& folder)
{
    constexpr double slack = 16 * 1024;
    struct Row {
        double ratio;
        QString line;
    };
    std::vector<Row> rows;
    int beyond = 0, packed = 0, refused = 0;
    const QString saved = QDir(folder).filePath(QStringLiteral("corpus-saved.pdf"));
    for (const QString& corpus :
         {QStringLiteral(RAVLEN_CORPUS_DIR), QStringLiteral(RAVLEN_CORPUS_DIR "/../corpus-qpdf")}) {
        for (const QFileInfo& info : QDir(corpus).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name)) {
            QFile in(info.filePath());
            if (!in.open(QIODevice::ReadOnly)) continue;
            const bool streams = in.readAll().contains("/ObjStm");
            qint64 written = 0, exported = 0;
            std::string failure;
            if (!savedSizes(info.filePath(), saved, &written, &exported, &failure)) {
                ++refused;
                continue;
            }
            const double size = double(info.size()), largest = double(std::max(written, exported));
            Row row{largest / size, QStringLiteral("save-size-corpus %1%2: %3 KB, saved %4 KB, exported %5 KB: %6")
                                        .arg(info.fileName(), streams ? QStringLiteral(" (object streams)") : QString())
                                        .arg(size / 1024, 0, 'f', 1)
                                        .arg(double(written) / 1024, 0, 'f', 1)
                                        .arg(double(exported) / 1024, 0, 'f', 1)
                                        .arg(largest / size, 0, 'f', 2)};
            if (largest > 1.3 * size + slack) {
                ++beyond;
                std::printf("%s (beyond)\n", qPrintable(row.line));
            }
            packed += streams;
            rows.push_back(std::move(row));
        }
    }
    if (rows.empty()) return false;
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.ratio > b.ratio; });
    for (std::size_t i = 0; i < std::min<std::size_t>(5, rows.size()); ++i)
        std::printf("%s\n", qPrintable(rows[i].line));
    std::printf("save-size-corpus ratio %.2f (largest of %zu files saved, %d with object streams; %d not saved)\n",
                rows.front().ratio, rows.size(), packed, refused);
    std::printf("save-size-corpus beyond 1.3 × the original + 16 KB: %d of %zu files\n", beyond, rows.size());
    return true;
}

// Prints the size row over the corpus's files numbered high; false when none saves.
bool sizeRows(const QString& folder)
{
    constexpr int highest = 156343;
    constexpr double slack = 16 * 1024;
    double worst = 0;
    int files = 0, beyond = 0;
    for (const QFileInfo& info :
         QDir(QStringLiteral(RAVLEN_CORPUS_DIR)).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files, QDir::Name)) {
        QFile in(info.filePath());
        if (!in.open(QIODevice::ReadOnly)) continue;
        const QByteArray high = numberedHigh(in.readAll(), highest);
        if (high.isEmpty()) continue;
        const QString original = QDir(folder).filePath(QStringLiteral("high.pdf"));
        const QString saved = QDir(folder).filePath(QStringLiteral("high-saved.pdf"));
        QFile out(original);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(high) != high.size()) return false;
        out.close();
        qint64 written = 0, exported = 0;
        std::string failure;
        if (!savedSizes(original, saved, &written, &exported, &failure)) {
            std::printf("save-size %s: not saved (%s)\n", qPrintable(info.fileName()), failure.c_str());
            continue;
        }
        const double size = double(high.size()), largest = double(std::max(written, exported));
        std::printf("save-size %s: %.1f KB numbered high, saved %.1f KB, exported %.1f KB: %.2f\n",
                    qPrintable(info.fileName()), size / 1024, double(written) / 1024, double(exported) / 1024,
                    largest / size);
        worst = std::max(worst, largest / size);
        if (largest > 1.3 * size + slack) ++beyond;
        ++files;
    }
    if (files == 0) return false;
    std::printf("save-size ratio %.2f (largest of %d files; a table of every number alone takes %.0f KB)\n", worst,
                files, 20.0 * (highest + 2) / 1024);
    std::printf("save-size beyond 1.3 × the original + 16 KB: %d of %d files\n", beyond, files);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5, pages = 5000;
    QString path;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--pages") && i + 1 < argc) pages = std::atoi(argv[++i]);
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
    if (!sizeRows(scratch.path()) || !corpusSizeRows(scratch.path())) return 1;
    const QString out = QDir(scratch.path()).filePath(QStringLiteral("saved.pdf"));
    if (!timeSaves(path, out, runs, "save-readback")) return 1;
    const QString foreign = QDir(scratch.path()).filePath(QStringLiteral("foreign.pdf"));
    if (QProcess::execute(QStringLiteral("qpdf"), {QStringLiteral("--object-streams=generate"), path, foreign}) != 0) {
        std::printf("save-readback-foreign skipped: qpdf could not rewrite the file\n");
        return 0;
    }
    return timeSaves(foreign, out, runs, "save-readback-foreign") ? 0 : 1;
}
