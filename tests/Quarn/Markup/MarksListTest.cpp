// The marks list: groups by page, the count line, per-page rebuilds after an
// edit, revealing a mark from its row and deleting rows as one undo step.
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Viewer/ViewerOnPages.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/MarkupOnPages.h"
#include "Platform/PdfAnnotations.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "QuarnKit/Shell/Design.h"
#include "Quarn/Design/UnnamedControls.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUndoStack>

using namespace quarn;
using platform::PdfRect;
using quarnkit::MarkEntry;
using quarnkit::MarkGroup;
using quarnkit::MarkKind;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct ListFixture {
    QTemporaryDir folder;
    platform::UserDefaults defaults{folder.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};
    quarnkit::QuarnDocument document;
    QUndoStack& stack() { return view.quarnDocument()->undoStack(); }
    ViewerModel model{&defaults, &positions};
    QuarnPDFView view;
    MarksList list{&model, &document};

    explicit ListFixture(int pages = 10) : document(platform::PdfDocument::openBytes(testsupport::makeTextPdf(pages)))
    {
        view.resize(700, 800);
        view.load(&document);
        model.setDocument(&document);
        showViewerOnPages(model, view);                  // edits reach the document
        showMarkupOnPages(MarkupModel::of(model), view); // selections reach the model
        view.show();
        list.resize(260, 600);
        QApplication::processEvents();
    }

    // A rectangle put on a page and reported as an edit of that page.
    MarkRef box(int page, double y = 500)
    {
        const auto mark =
            quarnkit::AnnotationFactory::rectangle({100, y}, {180, y + 40}, quarnkit::RGBA{1, 0, 0, 1}, 2, false);
        const int object = PdfAnnotations::add(*pdfOf(document), page, *mark);
        document.noteEditOfPage(page);
        return MarkRef{page, object};
    }
    std::vector<int> pages() const
    {
        std::vector<int> result;
        for (const auto& g : list.groups()) result.push_back(g.pageIndex);
        return result;
    }
    // Puts the list on screen and waits for its reading.
    void showList()
    {
        list.show();
        ASSERT_TRUE(testsupport::waitFor([this] { return list.loaded() && !list.reading(); }));
    }
    QTreeWidgetItem* row(int group, int index) const { return list.tree()->topLevelItem(group)->child(index); }
};

MarkGroup groupOf(int page, int count)
{
    MarkGroup g{page, {}};
    for (int i = 0; i < count; ++i) {
        MarkEntry e;
        e.pageIndex = page;
        g.entries.push_back(e);
    }
    return g;
}

} // namespace

TEST(MarksList, SummaryCountsMarksAndPages)
{
    EXPECT_EQ(MarksList::summaryText({groupOf(0, 1)}), QStringLiteral("1 mark on 1 page"));
    EXPECT_EQ(MarksList::summaryText({groupOf(0, 3)}), QStringLiteral("3 marks on 1 page"));
    EXPECT_EQ(MarksList::summaryText({groupOf(0, 2), groupOf(4, 3)}), QStringLiteral("5 marks on 2 pages"));
}

TEST(MarksList, RowsAreAnnouncedByKindWordsAndPage)
{
    MarkEntry plain{{}, 1, MarkKind::highlight, quarnkit::title(MarkKind::highlight), {}};
    EXPECT_EQ(MarksList::accessibilityText(plain), QStringLiteral("Highlight, page 2"));
    MarkEntry words{{}, 1, MarkKind::highlight, QStringLiteral("the words"), {}};
    EXPECT_EQ(MarksList::accessibilityText(words), QStringLiteral("Highlight, the words, page 2"));
}

TEST(MarksList, NothingShowsBeforeTheListIsOnScreenThenTheEmptyMessage)
{
    ListFixture f;
    EXPECT_FALSE(f.list.loaded());
    EXPECT_TRUE(f.list.findChild<QLabel*>()->isHidden() || !f.list.isVisible());
    f.showList();
    EXPECT_TRUE(f.list.loaded());
    EXPECT_TRUE(f.list.groups().empty());
    bool message = false;
    for (QLabel* label : f.list.findChildren<QLabel*>())
        if (label->text() == QStringLiteral("No marks yet. Pick a tool and draw on the page."))
            message = label->isVisible();
    EXPECT_TRUE(message);
    // Over the message, a symbol: drawn, not blank.
    auto* symbol = f.list.findChild<QLabel*>(QStringLiteral("emptySymbol"));
    ASSERT_TRUE(symbol && symbol->isVisible());
    const QImage image = symbol->pixmap().toImage();
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 40;
    EXPECT_GT(inked, 20);
}

TEST(MarksList, AnEditRebuildsOnlyItsPage)
{
    ListFixture f;
    f.box(1);
    f.box(8);
    f.showList();
    ASSERT_EQ(f.pages(), (std::vector<int>{1, 8}));
    EXPECT_EQ(f.list.summary(), QStringLiteral("2 marks on 2 pages"));
    EXPECT_EQ(f.list.tree()->topLevelItem(0)->text(0), QStringLiteral("Page 2"));

    // A mark put on page 8 behind the list's back stays unlisted until page 8 is edited.
    PdfAnnotations::add(
        *pdfOf(f.document), 8,
        *quarnkit::AnnotationFactory::ellipse({50, 50}, {90, 90}, quarnkit::RGBA{0, 0, 1, 1}, 2, false));
    f.box(4);
    ASSERT_EQ(f.pages(), (std::vector<int>{1, 4, 8}));
    EXPECT_EQ(f.list.groups()[2].entries.size(), 1u);
    EXPECT_EQ(f.list.summary(), QStringLiteral("3 marks on 3 pages"));

    // An edit of the whole document rebuilds everything.
    f.document.noteEdit(std::nullopt);
    ASSERT_TRUE(f.list.reading()); // the whole list is read again, off the UI thread
    ASSERT_TRUE(testsupport::waitFor([&] { return !f.list.reading(); }));
    EXPECT_EQ(f.list.groups()[2].entries.size(), 2u);
}

TEST(MarksList, ClickingARowRevealsAndSelectsItsMark)
{
    ListFixture f;
    f.box(0);
    const MarkRef far = f.box(6, 300);
    f.showList();
    MarkupModel::of(f.model).chooseTool(quarnkit::MarkupTool::pen);
    QTreeWidgetItem* row = f.row(1, 0);
    ASSERT_TRUE(MarksList::markOf(row));
    const QRect rect = f.list.tree()->visualItemRect(row);
    QTest::mouseClick(f.list.tree()->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_TRUE(MarkEditor::of(f.view).selected());
    EXPECT_EQ(*MarkEditor::of(f.view).selected(), far);
    EXPECT_EQ(MarkupModel::of(f.model).tool(), quarnkit::MarkupTool::select);
    EXPECT_TRUE(std::ranges::count(f.view.visiblePages(), 6) == 1);
}

TEST(MarksList, DeletingRowsRemovesTheirMarksAsOneStep)
{
    ListFixture f;
    f.box(0, 600);
    f.box(0, 300);
    f.box(3);
    f.showList();
    f.row(0, 0)->setSelected(true);
    f.row(1, 0)->setSelected(true);
    f.list.tree()->setFocus();
    QTest::keyClick(f.list.tree(), Qt::Key_Delete);
    EXPECT_EQ(f.stack().count(), 1);
    EXPECT_EQ(f.stack().undoText(), QStringLiteral("Delete 2 Marks"));
    // The list heard of the edits through the document.
    ASSERT_EQ(f.pages(), (std::vector<int>{0}));
    EXPECT_EQ(f.list.groups()[0].entries.size(), 1u);
    const auto reopened = platform::PdfDocument::openBytes(pdfOf(f.document)->save());
    EXPECT_EQ(quarnkit::MarkCatalog::entries(*reopened).size(), 1u);

    f.stack().undo();
    EXPECT_EQ(f.pages(), (std::vector<int>{0, 3}));
    EXPECT_EQ(f.list.summary(), QStringLiteral("3 marks on 2 pages"));

    f.list.tree()->clearSelection();
    f.row(1, 0)->setSelected(true);
    f.list.deleteChosen();
    EXPECT_EQ(f.stack().undoText(), QStringLiteral("Delete Mark"));
    EXPECT_EQ(f.pages(), (std::vector<int>{0}));
}

TEST(MarksList, DeletingTheLastMarkShowsTheEmptyMessage)
{
    ListFixture f;
    f.box(2);
    f.showList();
    f.row(0, 0)->setSelected(true);
    f.list.deleteChosen();
    EXPECT_TRUE(f.list.groups().empty());
    EXPECT_FALSE(f.list.tree()->isVisible());
}

TEST(MarksList, ARowLosesItsHighlightWhenThePageViewSelectsNothing)
{
    ListFixture f;
    f.box(0);
    f.showList();
    QTreeWidgetItem* row = f.row(0, 0);
    QTest::mouseClick(f.list.tree()->viewport(), Qt::LeftButton, {}, f.list.tree()->visualItemRect(row).center());
    ASSERT_TRUE(MarkEditor::of(f.view).selected());
    EXPECT_TRUE(f.row(0, 0)->isSelected());
    MarkEditor::of(f.view).select(std::nullopt);
    EXPECT_FALSE(f.row(0, 0)->isSelected());
}

TEST(MarksList, ARowShowsNoUnreadableCharacters)
{
    // The Arabic file's text line holds glyphs mapped to no character.
    quarnkit::QuarnDocument document(platform::PdfDocument::openFile(testsupport::corpusPath("habibi.pdf")));
    const auto line = pdfOf(document)->textPage(0).blocks.at(0).lines.at(0);
    ASSERT_NE(line.text().find("\xEF\xBF\xBD"), std::string::npos);
    PdfAnnotations::add(*pdfOf(document), 0,
                        *quarnkit::AnnotationFactory::highlight(line.bounds, quarnkit::RGBA{1, 1, 0, 1}));
    QTemporaryDir folder;
    platform::UserDefaults defaults(folder.filePath(QStringLiteral("defaults.json")));
    quarnkit::ReadingPositionStore positions(defaults);
    ViewerModel model(&defaults, &positions);
    MarksList list(&model, &document);
    list.resize(260, 400);
    list.show();
    ASSERT_TRUE(testsupport::waitFor([&] { return list.loaded() && !list.reading(); }));
    QTreeWidgetItem* row = list.tree()->topLevelItem(0)->child(0);
    ASSERT_TRUE(row);
    const QString shown = row->text(0);
    EXPECT_TRUE(shown.contains(QLatin1String("habibi"))) << shown.toStdString();
    EXPECT_FALSE(shown.contains(QChar::ReplacementCharacter)) << shown.toStdString();
}

TEST(MarksList, TheDotOfABlackTextBoxIsVisibleOnTheSidebar)
{
    ListFixture f;
    const auto box = quarnkit::AnnotationFactory::freeText({100, 400}, "Black words", quarnkit::RGBA{0, 0, 0, 1}, 16,
                                                           quarnkit::TextFont::sans, PdfRect{0, 0, 612, 792});
    PdfAnnotations::add(*pdfOf(f.document), 0, *box);
    f.document.noteEditOfPage(0);
    f.showList();
    QTreeWidgetItem* row = f.row(0, 0);
    ASSERT_TRUE(row);
    const QImage icon = row->icon(0).pixmap(QSize(32, 16), 1.0).toImage();
    // The dot's middle is the ink; its rim is lighter than any black on the dark sidebar.
    EXPECT_LT(qGray(icon.pixel(24, 8)), 40);
    int rim = 0;
    for (int x = 20; x <= 21; ++x) rim = std::max(rim, qGray(icon.pixel(x, 8)) * qAlpha(icon.pixel(x, 8)) / 255);
    EXPECT_GT(rim, 60);
}

TEST(MarksList, RowsSitOnTheSidebarsBackground)
{
    ListFixture f;
    f.box(0);
    f.showList();
    QWidget* port = f.list.tree()->viewport();
    const QImage image = port->grab().toImage();
    // Beside and below the rows: the sidebar's colour, the headers' too.
    const QRect row = f.list.tree()->visualItemRect(f.row(0, 0));
    EXPECT_EQ(image.pixelColor(port->width() / 2, port->height() - 4).rgb(), quarnkit::Design::chrome().rgb());
    EXPECT_EQ(image.pixelColor(row.right() - 2, row.center().y()).rgb(), quarnkit::Design::chrome().rgb());
}

// A row's menu reaches a reader as a menu, with its item focused when the
// menu key opened it (none for a right-click); its item deletes the row's mark.
TEST(MarksList, ARowsMenuReachesAReaderWithItsItemFocused)
{
    ListFixture f;
    f.box(0, 600);
    f.box(3);
    f.showList();
    QTreeWidget* tree = f.list.tree();
    const auto shownMenu = [&] {
        QMenu* menu = nullptr;
        testsupport::waitFor([&] { return (menu = f.list.findChild<QMenu*>()) && menu->isVisible(); });
        return menu;
    };
    const QPoint at = tree->visualItemRect(f.row(0, 0)).center();
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, tree->viewport()->mapToGlobal(at));
    QApplication::sendEvent(tree->viewport(), &click);
    QMenu* menu = shownMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(accessibletest::focusedMenuItems(menu), QStringList()); // Return runs nothing unseen
    menu->close();
    ASSERT_TRUE(testsupport::waitFor([&] { return !f.list.findChild<QMenu*>(); }));

    // The menu key, as the window system reports it.
    tree->setCurrentItem(f.row(1, 0));
    tree->setFocus();
    const QPoint row = tree->visualItemRect(f.row(1, 0)).center();
    QContextMenuEvent key(QContextMenuEvent::Keyboard, row, tree->viewport()->mapToGlobal(row));
    QApplication::sendEvent(tree, &key);
    menu = shownMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(accessibletest::focusedMenuItems(menu), QStringList{"Delete Mark"});
    QTest::keyClick(menu, Qt::Key_Return);
    EXPECT_TRUE(testsupport::waitFor([&] { return f.pages() == std::vector<int>{0}; }));
}
