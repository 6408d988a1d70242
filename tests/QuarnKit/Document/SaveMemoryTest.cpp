// A save never ends the program: each single C++ allocation of a save made
// to fail in turn, after one save ran as in a running app, ends as the save
// or as a refusal that names memory, and the document saves afterwards.
// Built as a program of its own, which replaces the allocation functions
// (support/FailingAllocation.h).
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "Platform/PdfReadBack.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "support/FailingAllocation.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <string>

using platform::PdfDocument;
using platform::PdfError;
using quarnkit::DocumentError;
using quarnkit::DocumentSaver;
using testsupport::allocation::FailingNth;

namespace {

void addMark(PdfDocument& doc, double x)
{
    platform::PdfAnnotation square;
    square.subtype = "Square";
    square.rect = {x, 20, x + 40, 60};
    square.color = platform::PdfColor{1, 0, 0};
    ASSERT_GT(platform::PdfAnnotations::add(doc, 0, square), 0);
}

// A folder in memory where there is one: the runs write and sync many files.
QString scratchFolder()
{
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm/ravlen-XXXXXX") : QString();
}

// Every allocation fails in turn; under the sanitizer, many times slower,
// every seventh.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t step = 7;
#else
constexpr std::uint64_t step = 1;
#endif

bool namesMemory(const std::string& why) { return why.find("memory") != std::string::npos; }

// Runs `save` of the file `path` (as the user chose it, before) with its
// 1st, 2nd, ... allocation failing, until one runs through without reaching
// it, each refused with a reason that names memory or saved (empty), and
// `afterwards` after each. Gives the number of runs.
int failEachAllocation(const std::string& path, const std::function<std::string(const platform::ChosenFile&)>& save,
                       const std::function<void()>& afterwards)
{
    int runs = 0;
    for (std::uint64_t n = 1;; n += step) {
        std::string refusal;
        bool reached = false;
        {
            const platform::ChosenFile file = testsupport::chosen(path);
            const FailingNth failing(n);
            refusal = save(file);
            reached = testsupport::allocation::failed();
        }
        ++runs;
        EXPECT_TRUE(refusal.empty() || namesMemory(refusal)) << "allocation " << n << ": " << refusal;
        if (!reached) break;
        if (!refusal.empty()) afterwards();
        if (::testing::Test::HasFailure()) break;
    }
    std::printf("%d runs, one allocation failing in each\n", runs);
    return runs;
}

} // namespace

TEST(SaveMemory, EachAllocationOfAPlatformSaveFailingIsARefusal)
{
    ASSERT_TRUE(platform::loadReadBack());
    QTemporaryDir dir(scratchFolder());
    const QString original = testsupport::writeFile(dir, "original.pdf", testsupport::makeTextPdf(1));
    const auto doc = PdfDocument::openFile(original.toStdString());
    addMark(*doc, 20);
    platform::PdfSaveOptions options;
    options.garbageCollect = true;
    const std::string target = dir.filePath("saved.pdf").toStdString();
    doc->saveToFile(testsupport::chosen(target), options); // as in a running app
    const int runs = failEachAllocation(
        target,
        [&](const platform::ChosenFile& file) -> std::string {
            try {
                doc->saveToFile(file, options);
                return {};
            } catch (const PdfError& error) {
                return error.systemError() == ENOMEM ? std::string("memory: ") + error.what() : error.what();
            } catch (const std::exception& error) {
                return std::string("not the platform's error: ") + error.what();
            }
        },
        [&] { EXPECT_NO_THROW(doc->saveToFile(testsupport::chosen(target), options)); });
    EXPECT_GT(runs * step, 100u);
    // The document is whole: an edit saves, and the file holds it.
    addMark(*doc, 80);
    doc->saveToFile(testsupport::chosen(target), options);
    EXPECT_EQ(platform::PdfAnnotations::list(*PdfDocument::openFile(target), 0).size(), 2u);
}

TEST(SaveMemory, EachAllocationOfTheSaverFailingIsARefusal)
{
    QTemporaryDir dir(scratchFolder());
    const QString path = testsupport::writeFile(dir, "doc.pdf", testsupport::makeTextPdf(1));
    const auto document = quarnkit::QuarnDocument::open(path);
    addMark(*pdfOf(*document), 20);
    DocumentSaver saver;
    saver.start(*document, testsupport::chosen(path));
    ASSERT_FALSE(saver.waitForFinished().error.has_value()); // as in a running app
    const int runs = failEachAllocation(
        path.toStdString(),
        [&](const platform::ChosenFile& file) -> std::string {
            if (!saver.start(*document, file)) return "not started";
            const DocumentSaver::Outcome outcome = saver.waitForFinished();
            if (!outcome.error) return {};
            return outcome.error->reason() + " (" + outcome.error->sentence().toStdString() + ")";
        },
        [&] {
            ASSERT_TRUE(saver.start(*document, testsupport::chosen(path)));
            const DocumentSaver::Outcome outcome = saver.waitForFinished();
            EXPECT_FALSE(outcome.error.has_value()) << outcome.error->reason();
        });
    EXPECT_GT(runs * step, 100u);
}
