// Page edits through the document, with no widget: each is one named undo
// step that makes its write when pushed, and undoes and redoes to exactly the
// pages there were; an edit with nothing to change leaves no step.
#include "QuarnKit/Pages/PageEdits.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QUndoStack>

using namespace quarnkit;
using platform::PdfDocument;

namespace {

// What the user sees of a page: its words, its shape and its turn.
struct Seen {
    std::string text;
    platform::PdfSize size;
    int rotation = 0;
    friend bool operator==(const Seen&, const Seen&) = default;
};

std::vector<Seen> seen(const PdfDocument& pdf)
{
    std::vector<Seen> out;
    for (int i = 0; i < pdf.pageCount(); ++i) {
        const platform::PdfPageGeometry geometry = pdf.pageGeometry(i);
        out.push_back({QString::fromStdString(pdf.textPage(i).text()).simplified().toStdString(), geometry.displaySize,
                       geometry.rotation});
    }
    return out;
}

std::vector<Seen> seen(const QuarnDocument& document) { return seen(*PdfDocument::openBytes(document.snapshot())); }

} // namespace

TEST(PageEdits, EveryPageEditUndoesAndRedoesThroughTheDocument)
{
    QTemporaryDir dir;
    const QString other = testsupport::writeFile(dir, "other.pdf", testsupport::makeTextPdf(2, "Other"));
    QImage photo(200, 100, QImage::Format_RGB32);
    photo.fill(Qt::blue);
    const QString image = dir.filePath("photo.png");
    ASSERT_TRUE(photo.save(image));

    QuarnDocument document(PdfDocument::openBytes(testsupport::makeTextPdf(4)));
    QUndoStack& stack = document.undoStack();
    // What the document tells the window of each edit, undo and redo.
    std::vector<PagesEdit> told;
    QObject::connect(&document, &QuarnDocument::pagesEdited, [&](const PagesEdit& edit) { told.push_back(edit); });
    const std::vector<platform::PdfPageId> firstTwo{*document.pageId(0), *document.pageId(1)};
    std::vector<std::vector<Seen>> states{seen(document)}; // after each step
    const auto step = [&](const std::optional<PageEdit>& edit, const QString& name) {
        EXPECT_TRUE(edit) << name.toStdString();
        EXPECT_EQ(stack.undoText(), name);
        EXPECT_EQ(stack.count(), int(states.size()));
        EXPECT_NE(seen(document), states.back()) << name.toStdString() << " wrote nothing";
        states.push_back(seen(document));
    };

    step(PageEdits::rotate(document, {0, 1}, 90), "Rotate 2 Pages");
    EXPECT_EQ(states.back()[0].rotation, 90);
    step(PageEdits::move(document, {0}, 3), "Move Page");
    EXPECT_EQ(states.back()[2].text, "Page 1");
    step(PageEdits::duplicate(document, {1}), "Duplicate Page");
    step(PageEdits::insertBlank(document, 0), "Insert Blank Page");
    EXPECT_EQ(states.back()[1], (Seen{"", {792, 612}, 0})); // shaped as the turned page before it
    const PageEditor::FilePages read = PageEditor::pages(QStringList{other, image});
    ASSERT_TRUE(read.failures.isEmpty());
    const auto inserted = PageEdits::insert(document, read.pages, 2);
    step(inserted, "Insert 3 Pages");
    EXPECT_EQ(inserted->insertedIndexes(), (std::set<int>{2, 3, 4}));
    EXPECT_EQ(states.back()[4].size, (platform::PdfSize{200, 100}));
    step(PageEdits::deletePages(document, {0, 3}), "Delete 2 Pages");

    // Nothing to change, or a change refused: no step, no write.
    const qint64 generation = document.generation();
    EXPECT_FALSE(PageEdits::move(document, {1, 2}, 1));
    EXPECT_FALSE(PageEdits::rotate(document, {40}, 90));
    EXPECT_FALSE(PageEdits::deletePages(document, {40}));
    EXPECT_FALSE(PageEdits::insert(document, {}, 0));
    std::set<int> every;
    for (int i = 0; i < document.pageCount(); ++i) every.insert(i);
    EXPECT_THROW(PageEdits::deletePages(document, every), PageEditError);
    EXPECT_EQ(stack.count(), int(states.size()) - 1);
    EXPECT_EQ(document.generation(), generation);
    EXPECT_EQ(seen(document), states.back());
    ASSERT_EQ(told.size(), states.size() - 1); // one for each edit made, none for the refused
    EXPECT_EQ(told[0].turned, firstTwo);
    EXPECT_EQ(told[4].placed, (std::set<int>{2, 3, 4}));

    for (int i = int(states.size()) - 1; i > 0; --i) {
        stack.undo();
        EXPECT_EQ(seen(document), states[size_t(i) - 1]) << "undo to state " << i - 1;
    }
    // Undoing the delete put its pages back where they stood; undoing the
    // rotation turned the pages it had turned.
    ASSERT_EQ(told.size(), 2 * (states.size() - 1));
    EXPECT_EQ(told[states.size() - 1].placed, (std::set<int>{0, 3}));
    EXPECT_EQ(told.back().turned, told[0].turned);
    for (size_t i = 1; i < states.size(); ++i) {
        stack.redo();
        EXPECT_EQ(seen(document), states[i]) << "redo to state " << i;
    }
    ASSERT_EQ(told.size(), 3 * (states.size() - 1));
    EXPECT_EQ(told.back().placed, std::set<int>{}); // the delete, done again, put nothing in
}

TEST(PageEdits, ExtractIntoWritesThePagesAsTheyWereAndLeavesTheDocumentAlone)
{
    QTemporaryDir dir;
    QuarnDocument document(PdfDocument::openBytes(testsupport::makeTextPdf(4)));
    ASSERT_TRUE(PageEdits::rotate(document, {2}, 90));
    const QString path = dir.filePath("Extracted.pdf");
    const std::function<bool()> job = PageEdits::extractInto(document, {0, 2}, testsupport::chosen(path));
    // Pages deleted after the panel closed are still written as they were.
    ASSERT_TRUE(PageEdits::deletePages(document, {0}));
    const int steps = document.undoStack().count();
    ASSERT_TRUE(job());
    EXPECT_EQ(document.undoStack().count(), steps);

    EXPECT_EQ(testsupport::runProgram("pdftotext", {path, "-"}).simplified(), "Page 1 Page 3");
    const auto extracted = PdfDocument::openFile(path.toStdString());
    EXPECT_EQ(extracted->pageGeometry(1).rotation, 90);
}

TEST(PageEdits, PagesBroughtInWithTheirLayersLeaveTheLayerSettingsAsTheyWereOnceUndone)
{
    // Pages inserted or duplicated show in other readers what their file
    // shows, its hidden layers hidden, and the document's own pages as they
    // were. Undone, the document's layer settings are written as a save
    // without the edit writes them, whether it had none, had them in its
    // catalog itself or in an object of their own; redone, as after the edit.
    QTemporaryDir dir;
    const QString layered = testsupport::writeFile(dir, "layered.pdf", testsupport::layeredPdf());
    const QString turned = testsupport::writeFile(dir, "turned.pdf", testsupport::layeredPdf(true));
    const QString other = QString::fromStdString(testsupport::corpusPath("base64image.pdf"));
    const QByteArray plain = testsupport::makeTextPdf(2, "Target words");
    const struct {
        const char* what;
        QByteArray target;
        QStringList inserted; // none: the first page duplicated
        bool layersChange;
    } cases[] = {
        {"inserted into a file without layers", plain, {layered}, true},
        {"inserted into a file whose settings stand in its catalog", testsupport::layeredPdf(true), {layered}, true},
        {"inserted into a file whose settings are an object of their own",
         testsupport::readFile(other),
         {layered},
         true},
        {"two files whose layers differ, inserted in one step", plain, {layered, turned}, true},
        {"a page duplicated", testsupport::layeredPdf(), {}, false},
    };
    const auto words = [](const QString& path, int page) {
        const QString number = QString::number(page + 1);
        return testsupport::runProgram("pdftotext", {"-f", number, "-l", number, path, "-"});
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_FALSE(c.target.isEmpty());
        QuarnDocument document(PdfDocument::openBytes(c.target));
        const int own = document.pageCount();
        const QString before = dir.filePath("before.pdf"), saved = dir.filePath("saved.pdf");
        document.writeTo(testsupport::chosen(before));
        const QString layersBefore = testsupport::catalogEntry(before, "/OCProperties");

        // The pages that come in, and the file and page each shows.
        std::vector<std::pair<QString, int>> sources;
        if (c.inserted.isEmpty()) {
            ASSERT_TRUE(PageEdits::duplicate(document, {0}));
            sources.push_back({before, 0});
        } else {
            const PageEditor::FilePages read = PageEditor::pages(c.inserted);
            ASSERT_TRUE(read.failures.isEmpty());
            ASSERT_TRUE(PageEdits::insert(document, read.pages, own));
            for (const QString& path : c.inserted)
                for (int page = 0; page < PdfDocument::openFile(path.toStdString())->pageCount(); ++page)
                    sources.push_back({path, page});
        }
        const int first = c.inserted.isEmpty() ? 1 : own;
        const auto check = [&](const char* when) {
            SCOPED_TRACE(when);
            document.writeTo(testsupport::chosen(saved));
            EXPECT_TRUE(
                testsupport::runProgram("qpdf", {"--check", saved}).contains("No syntax or stream encoding errors"));
            ASSERT_EQ(document.pageCount(), own + int(sources.size()));
            for (size_t k = 0; k < sources.size(); ++k) {
                const auto& [path, page] = sources[k];
                EXPECT_EQ(words(saved, first + int(k)), words(path, page)) << "page " << first + k + 1;
                EXPECT_LT(testsupport::meanDifference(testsupport::popplerPage(saved, first + int(k)),
                                                      testsupport::popplerPage(path, page)),
                          1.0)
                    << "page " << first + k + 1;
            }
            for (int page = 0; page < own; ++page) {
                const int at = page < first ? page : page + int(sources.size());
                EXPECT_EQ(words(saved, at), words(before, page)) << "the document's page " << page + 1;
            }
        };
        check("after the edit");
        const QString layersAfter = testsupport::catalogEntry(saved, "/OCProperties");
        EXPECT_EQ(layersAfter != layersBefore, c.layersChange) << layersAfter.toStdString();

        document.undoStack().undo();
        document.writeTo(testsupport::chosen(saved));
        EXPECT_EQ(document.pageCount(), own);
        EXPECT_EQ(testsupport::catalogEntry(saved, "/OCProperties"), layersBefore) << "undone";
        for (int page = 0; page < own; ++page) EXPECT_EQ(words(saved, page), words(before, page)) << "undone";

        document.undoStack().redo();
        check("redone");
        EXPECT_EQ(testsupport::catalogEntry(saved, "/OCProperties"), layersAfter) << "redone";
    }
}
