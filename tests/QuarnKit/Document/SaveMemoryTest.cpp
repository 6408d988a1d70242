// A save never ends the program: each single C++ allocation of a save made
// to fail in turn, after one save ran as in a running app, ends as the save
// or as a refusal that tells the user memory ran out, and the document saves
// afterwards. A program of its own, which replaces operator new
// (support/FailingAllocation.h); the allocations are shared out between
// shards, which ctest runs side by side.
#include "Platform/PdfAnnotations.h"
#include "Platform/PdfDocument.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/DocumentSaver.h"
#include "support/FailingAllocation.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>
#include <string>
#include <string_view>

using platform::PdfDocument;
using quarnkit::DocumentSaver;

namespace {

// Every allocation in turn; under the sanitizer, many times slower, every seventh.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::uint64_t step = 7;
} // namespace
// libqpdf lets go of nothing it held when an allocation of its own fails part
// way, on whichever thread reads: its leaks are not the save's to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libqpdf.so\n"; }
namespace {
#else
constexpr std::uint64_t step = 1;
#endif
constexpr int shards = 8;

// The words the window's refusal gives when memory ran out.
constexpr std::string_view memorySentence =
    "There isn't enough memory to save it now. Close some documents or other programs, then try again.";

// In memory where it can be: the runs write and sync many files.
QString scratch()
{
    return QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm/ravlen-XXXXXX") : QString();
}

// A one-page document with a mark, written as `name` in `dir`, its objects
// in object streams where `packed` (a whole file written of it keeps them so).
std::shared_ptr<PdfDocument> markedDocument(const QTemporaryDir& dir, const char* name, bool packed = false)
{
    QString path = testsupport::writeFile(dir, name, testsupport::makeTextPdf(1));
    if (packed) {
        testsupport::runProgram("qpdf", {"--object-streams=generate", path, path + ".packed"});
        path += ".packed";
    }
    const auto doc = PdfDocument::openFile(path.toStdString());
    platform::PdfAnnotation square;
    square.subtype = "Square";
    square.rect = {20, 20, 60, 60};
    EXPECT_GT(platform::PdfAnnotations::add(*doc, 0, square), 0);
    return doc;
}

// Saves the file at `path` (chosen before each run) with the shard's share
// of its 1st, 2nd, ... allocation failing until a save no longer reaches it:
// each saved (empty) or refused as `namesMemory` holds, and a refused one saves
// after.
void failEachAllocation(int shard, const std::string& path,
                        const std::function<std::string(const platform::ChosenFile&)>& save,
                        const std::function<bool(const std::string&)>& namesMemory)
{
    std::uint64_t n = 1 + std::uint64_t(shard) * step;
    for (bool reached = true; reached && !::testing::Test::HasFailure(); n += shards * step) {
        const platform::ChosenFile file = testsupport::chosen(path);
        testsupport::allocation::failNth(n);
        const std::string refusal = save(file);
        reached = testsupport::allocation::reached();
        testsupport::allocation::failNth(0);
        EXPECT_TRUE(refusal.empty() || namesMemory(refusal)) << n << ": " << refusal;
        if (!refusal.empty()) {
            EXPECT_EQ(save(testsupport::chosen(path)), "") << "after allocation " << n;
        }
    }
    EXPECT_GT(n, 100u);
}

// Saves a marked document, `packed` or not, with the shard's share of its
// allocations failing in turn (failEachAllocation), as the platform's error.
void failEachAllocationOfAPlatformSave(int shard, bool packed)
{
    SCOPED_TRACE(packed ? "in object streams" : "");
    QTemporaryDir dir(scratch());
    const auto doc = markedDocument(dir, "original.pdf", packed);
    const std::string target = dir.filePath("saved.pdf").toStdString();
    platform::PdfSaveOptions options;
    options.garbageCollect = true;
    doc->saveToFile(testsupport::chosen(target), options); // as in a running app
    failEachAllocation(
        shard, target,
        [&](const platform::ChosenFile& file) -> std::string {
            try {
                doc->saveToFile(file, options);
                return {};
            } catch (const platform::PdfError& error) {
                return error.systemError() == ENOMEM ? std::string("memory: ") + error.what() : error.what();
            } catch (const std::exception& error) {
                return std::string("not the platform's error: ") + error.what();
            }
        },
        [](const std::string& refusal) { return refusal.starts_with("memory: "); });
    EXPECT_EQ(platform::PdfAnnotations::list(*PdfDocument::openFile(target), 0).size(), 1u);
    EXPECT_EQ(testsupport::readFile(QString::fromStdString(target)).contains("/ObjStm"), packed);
}

class SaveMemory : public ::testing::TestWithParam<int> {};

} // namespace

TEST_P(SaveMemory, EachAllocationOfAPlatformSaveFailingIsARefusal)
{
    for (const bool packed : {false, true}) failEachAllocationOfAPlatformSave(GetParam(), packed);
}

TEST_P(SaveMemory, EachAllocationOfTheSaverFailingIsARefusalTheUserReadsAsMemory)
{
    QTemporaryDir dir(scratch());
    const auto doc = markedDocument(dir, "doc.pdf");
    const std::string path = dir.filePath("doc.pdf").toStdString();
    DocumentSaver saver;
    saver.start(doc, testsupport::chosen(path));
    ASSERT_FALSE(saver.waitForFinished().error.has_value()); // as in a running app
    // The window's alert reads the refusal's sentence.
    failEachAllocation(
        GetParam(), path,
        [&](const platform::ChosenFile& file) -> std::string {
            if (!saver.start(doc, file)) return "not started";
            const DocumentSaver::Outcome outcome = saver.waitForFinished();
            return outcome.error ? outcome.error->sentence().toStdString() + " (" + outcome.error->reason() + ")" : "";
        },
        [](const std::string& refusal) { return refusal.starts_with(std::string(memorySentence) + " ("); });
    EXPECT_EQ(platform::PdfAnnotations::list(*PdfDocument::openFile(path), 0).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Shares, SaveMemory, ::testing::Range(0, shards));
