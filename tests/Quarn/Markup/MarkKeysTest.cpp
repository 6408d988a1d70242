// Mark keys sent to the document window after a click in the inspector or in
// the marks list: they reach the selected mark, but not while typing.
#include "Platform/PdfAnnotations.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/Inspector.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/AnnotationFactory.h"
#include "../App/ViewerScreenHarness.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

using namespace quarn;
namespace PdfAnnotations = platform::PdfAnnotations;

namespace {

struct MarkedWindow {
    viewertest::Settings settings;
    std::unique_ptr<quarnkit::QuarnDocument> document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(2));
    QUndoStack& stack() { return document->undoStack(); }
    int first = add(200), second = add(400);
    std::unique_ptr<ViewerScreen> screen;
    QuarnPDFView* view = nullptr;

    MarkedWindow()
    {
        screen = viewertest::showScreen(document.get(), QString(), settings);
        screen->resize(1180, 800);
        QApplication::setActiveWindow(screen.get());
        (void)QTest::qWaitForWindowActive(screen.get());
        view = screen->findChild<QuarnPDFView*>();
        (void)viewertest::waitForPages(*screen);
    }
    int add(double y)
    {
        const auto box =
            quarnkit::AnnotationFactory::rectangle({100, y}, {200, y + 60}, quarnkit::RGBA{1, 0, 0, 1}, 2, false);
        return PdfAnnotations::add(*pdfOf(*document), 0, *box);
    }
    bool has(int object) const { return PdfAnnotations::find(*pdfOf(*document), 0, object).has_value(); }
    // A key as the window system delivers it: to whatever has the focus.
    void key(int k) { QTest::keyClick(screen->windowHandle(), Qt::Key(k)); }
};

} // namespace

TEST(MarkKeys, DeleteWorksAfterAClickInTheInspector)
{
    MarkedWindow w;
    ASSERT_TRUE(w.view);
    MarkEditor::of(*w.view).select(MarkRef{0, w.first});
    QApplication::processEvents();
    auto* pane = w.screen->findChild<InspectorPane*>();
    ASSERT_TRUE(pane && pane->isVisible());
    // A click on a swatch restyles the mark; the focus goes to the pane.
    QAbstractButton* swatch = nullptr;
    for (auto* button : pane->findChildren<QAbstractButton*>())
        if (button->inherits("quarn::SwatchButton") && button->isVisible()) swatch = button;
    ASSERT_TRUE(swatch);
    QTest::mouseClick(swatch, Qt::LeftButton, {}, swatch->rect().center());
    // Wherever the focus is then (here: the marks list, the sidebar's Marks tab), Delete reaches the mark.
    PagesModel::of(w.screen->model()).showSidebarTab(quarnkit::SidebarTab::marks);
    QApplication::processEvents();
    auto* list = w.screen->findChild<MarksList*>();
    ASSERT_TRUE(list);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible() && list->tree()->topLevelItemCount() > 0; }, 5000));
    list->tree()->setFocus(Qt::MouseFocusReason);
    ASSERT_FALSE(w.view->hasFocus());

    w.key(Qt::Key_Delete);
    EXPECT_FALSE(w.has(w.first));
    EXPECT_TRUE(w.has(w.second));
    EXPECT_EQ(w.stack().undoText(), "Delete");
}

// While the marks list has the keys, the arrows move among its rows (a
// page's header is no stop) choosing each row's mark as they go, and Return
// or Space does what a click does: the row's mark is shown and selected; no
// mark moves. Return on a note opens it for typing, as on the page. Escape
// and the tool letters still reach the marks.
TEST(MarkKeys, TheMarksListKeepsItsArrowsReturnAndSpaceAndEscapeAndToolLettersReachTheMarks)
{
    MarkedWindow w;
    w.add(600); // three marks on page 1, one on page 2
    const MarkRef onPage2{
        1, PdfAnnotations::add(
               *pdfOf(*w.document), 1,
               *quarnkit::AnnotationFactory::note({100, 300}, "words", quarnkit::RGBA{1, 0, 0, 1}, {0, 0, 612, 792}))};
    // The marks list is the sidebar's Marks tab.
    PagesModel::of(w.screen->model()).showSidebarTab(quarnkit::SidebarTab::marks);
    QApplication::processEvents();
    auto* list = w.screen->findChild<MarksList*>();
    ASSERT_TRUE(list);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->isVisible() && list->tree()->topLevelItemCount() == 2; }, 5000));
    std::vector<MarkRef> rows; // the marks in the order their rows show
    std::vector<QTreeWidgetItem*> items;
    for (QTreeWidgetItemIterator it(list->tree()); *it; ++it)
        if (const auto mark = MarksList::markOf(*it)) {
            rows.push_back(*mark);
            items.push_back(*it);
        }
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows.back(), onPage2);
    QTest::mouseClick(list->tree()->viewport(), Qt::LeftButton, {}, list->tree()->visualItemRect(items[1]).center());
    ASSERT_EQ(MarkEditor::of(*w.view).selected(), rows[1]);
    ASSERT_TRUE(list->tree()->hasFocus());
    const QByteArray saved = w.document->snapshot();

    const struct {
        Qt::Key key;
        int row;                  // the row the keys are on after it
        std::optional<int> shown; // the row whose mark is selected after it
        bool typing = false;      // that mark is open for typing
    } steps[] = {
        {Qt::Key_Down, 2, 2},  {Qt::Key_Return, 2, 2},       {Qt::Key_Down, 3, 3}, // over page 2's header
        {Qt::Key_Space, 3, 3}, {Qt::Key_Right, 3, 3},        {Qt::Key_Up, 2, 2},   // back over it
        {Qt::Key_Left, 2, 2},  {Qt::Key_Home, 0, 0},         {Qt::Key_Enter, 0, 0},
        {Qt::Key_End, 3, 3},   {Qt::Key_Return, 3, 3, true}, // the note
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QKeySequence(step.key).toString().toStdString());
        w.key(step.key);
        EXPECT_EQ(MarksList::markOf(list->tree()->currentItem()), rows[size_t(step.row)]);
        EXPECT_EQ(MarkEditor::of(*w.view).selected(), rows[size_t(*step.shown)]);
        EXPECT_EQ(MarkEditor::of(*w.view).hasEditor(), step.typing);
    }
    EXPECT_EQ(w.stack().count(), 0);
    EXPECT_EQ(w.document->snapshot(), saved);

    w.key(Qt::Key_Escape); // the note's words, then the selection
    w.key(Qt::Key_Escape);
    EXPECT_FALSE(MarkEditor::of(*w.view).selected());
    w.key(Qt::Key_R);
    EXPECT_EQ(MarkupModel::of(w.screen->model()).tool(), quarnkit::MarkupTool::rectangle);
}

// Delete in the marks list takes the rows the keys chose there: the row
// Down went to (whose mark Down selected), then two rows at once.
TEST(MarkKeys, DeleteInTheMarksListTakesTheRowsChosenThere)
{
    MarkedWindow w;
    const int third = w.add(600);
    PagesModel::of(w.screen->model()).showSidebarTab(quarnkit::SidebarTab::marks);
    auto* list = w.screen->findChild<MarksList*>();
    ASSERT_TRUE(list);
    std::vector<QTreeWidgetItem*> rows;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            rows.clear();
            for (QTreeWidgetItemIterator it(list->tree()); *it; ++it)
                if (MarksList::markOf(*it)) rows.push_back(*it);
            return list->isVisible() && rows.size() == 3;
        },
        5000));
    const auto objectOf = [](QTreeWidgetItem* row) { return MarksList::markOf(row)->object; };
    const int clicked = objectOf(rows[0]), below = objectOf(rows[1]);
    const auto click = [&](QTreeWidgetItem* row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->tree()->viewport(), Qt::LeftButton, modifiers,
                          list->tree()->visualItemRect(row).center());
    };
    click(rows[0]);
    ASSERT_EQ(MarkEditor::of(*w.view).selected(), (MarkRef{0, clicked}));
    w.key(Qt::Key_Down); // chooses the mark below, on the page too
    ASSERT_EQ(MarkEditor::of(*w.view).selected(), (MarkRef{0, below}));
    w.key(Qt::Key_Delete);
    EXPECT_TRUE(w.has(clicked));
    EXPECT_FALSE(w.has(below));
    EXPECT_EQ(w.stack().undoText(), "Delete"); // as from the page: the mark selected there

    std::vector<QTreeWidgetItem*> left;
    for (QTreeWidgetItemIterator it(list->tree()); *it; ++it)
        if (MarksList::markOf(*it)) left.push_back(*it);
    ASSERT_EQ(left.size(), 2u);
    click(left[0]);
    click(left[1], Qt::ControlModifier);
    w.key(Qt::Key_Backspace);
    EXPECT_FALSE(w.has(w.first) || w.has(w.second) || w.has(third));
    EXPECT_EQ(w.stack().undoText(), "Delete 2 Marks");
    EXPECT_EQ(w.stack().count(), 2);
}

TEST(MarkKeys, TypingInATextFieldOfTheWindowIsNoMarkKey)
{
    MarkedWindow w;
    MarkEditor::of(*w.view).select(MarkRef{0, w.first});
    auto* field = new QLineEdit(w.screen.get());
    field->show();
    field->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
    w.key(Qt::Key_R);
    w.key(Qt::Key_Backspace);
    w.key(Qt::Key_Delete);
    EXPECT_TRUE(w.has(w.first));
    EXPECT_EQ(MarkupModel::of(w.screen->model()).tool(), quarnkit::MarkupTool::select);
}

TEST(MarkKeys, AfterTheInspectorsDeleteTheKeysStillReachTheWindow)
{
    MarkedWindow w;
    w.view->setFocus();
    MarkEditor::of(*w.view).select(MarkRef{0, w.first});
    QApplication::processEvents();
    auto* pane = w.screen->findChild<InspectorPane*>();
    ASSERT_TRUE(pane && pane->isVisible());
    QAbstractButton* remove = nullptr;
    for (auto* button : pane->findChildren<QAbstractButton*>())
        if (button->isVisible() && button->text().contains(QLatin1String("Delete"))) remove = button;
    ASSERT_TRUE(remove);
    QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    QApplication::processEvents();
    ASSERT_FALSE(w.has(w.first));
    // The focus is in no control of the window's chrome.
    QWidget* focus = QApplication::focusWidget();
    EXPECT_TRUE(!focus || focus == w.view || w.view->isAncestorOf(focus))
        << (focus ? focus->metaObject()->className() : "none");
    w.key(Qt::Key_R);
    EXPECT_EQ(MarkupModel::of(w.screen->model()).tool(), quarnkit::MarkupTool::rectangle);
}

TEST(MarkKeys, AKeyReachesTheSelectedMarkOfItsOwnWindowOnly)
{
    MarkedWindow a, b;
    MarkEditor::of(*a.view).select(MarkRef{0, a.first});
    MarkEditor::of(*b.view).select(MarkRef{0, b.first});
    for (MarkedWindow* w : {&b, &a}) {
        QApplication::setActiveWindow(w->screen.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(w->screen.get()));
        w->view->clearFocus(); // the window itself hears the key
        w->key(Qt::Key_Delete);
    }
    // Each window's Delete took its own mark, once.
    for (MarkedWindow* w : {&a, &b}) {
        EXPECT_FALSE(w->has(w->first));
        EXPECT_TRUE(w->has(w->second));
        EXPECT_EQ(w->stack().count(), 1);
    }
}
