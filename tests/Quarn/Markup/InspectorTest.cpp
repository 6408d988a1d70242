// The inspector: which sections show for each tool and selected mark, and
// what its swatches, sliders, toggles and buttons do to the model, the
// selected mark and the saved file.
#include "Quarn/Markup/ViewerModelMarkupHarness.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Markup/Inspector.h"
#include "Quarn/Shell/ColorPanelBridge.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/UnnamedControls.h"
#include "QuarnKit/Markup/MarkEdits.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QColorDialog>
#include <QLabel>
#include <QSlider>

#include <algorithm>
#include <set>

using namespace quarn;
using markuptest::MarkupHarness;
using markuptest::rectangle;
using quarnkit::MarkKind;
using quarnkit::MarkupTool;
using quarnkit::RGBA;
namespace AnnotationFactory = quarnkit::AnnotationFactory;

namespace {

struct PaneHarness : MarkupHarness {
    InspectorPane pane{model.get()};
    PaneHarness() { pane.resize(InspectorPane::paneWidth + 1, 700); }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    // The sections shown besides the header and the hint, by name.
    QStringList sections()
    {
        QStringList shown;
        if (!pane.swatchSection()->isHidden()) shown << "swatches";
        if (!pane.strokeRow()->isHidden()) shown << "stroke";
        if (!pane.fill()->isHidden()) shown << "fill";
        if (!pane.textSection()->isHidden()) shown << "text";
        if (!pane.head()->isHidden()) shown << "head";
        if (!pane.redactionNote()->isHidden()) shown << "redaction";
        if (!pane.actions()->isHidden()) shown << "actions";
        return shown;
    }
};

} // namespace

TEST(Inspector, ShownForADrawingToolOrASelectionOnly)
{
    PaneHarness h;
    EXPECT_FALSE(h.pane.wanted());
    EXPECT_TRUE(h.pane.isHidden());
    MarkupModel::of(*h.model).chooseTool(MarkupTool::pen);
    EXPECT_TRUE(h.pane.wanted());
    EXPECT_FALSE(h.pane.isHidden());
    MarkupModel::of(*h.model).chooseTool(MarkupTool::select);
    EXPECT_TRUE(h.pane.isHidden());
    h.place(rectangle());
    EXPECT_FALSE(h.pane.isHidden());
}

TEST(Inspector, SectionsFollowTheToolAndTheSelectedKind)
{
    PaneHarness h;
    const auto forTool = [&](MarkupTool t) {
        MarkupModel::of(*h.model).chooseTool(t);
        return h.sections();
    };
    EXPECT_EQ(forTool(MarkupTool::eraser), QStringList{});
    EXPECT_EQ(forTool(MarkupTool::pen), (QStringList{"swatches", "stroke"}));
    EXPECT_EQ(forTool(MarkupTool::highlight), QStringList{"swatches"});
    EXPECT_EQ(forTool(MarkupTool::rectangle), (QStringList{"swatches", "stroke", "fill"}));
    EXPECT_EQ(forTool(MarkupTool::arrow), (QStringList{"swatches", "stroke"}));
    EXPECT_EQ(forTool(MarkupTool::text), (QStringList{"swatches", "text"}));
    EXPECT_EQ(forTool(MarkupTool::redact), QStringList{"redaction"});
    EXPECT_EQ(h.pane.title()->text(), "Redact");
    ASSERT_TRUE(h.pane.keyCap());
    EXPECT_EQ(h.pane.keyCap()->text(), "X");
    EXPECT_EQ(h.pane.keyCap()->toolTip(), "Press X to pick this tool");
    EXPECT_TRUE(h.pane.selectedLabel()->isHidden());
    EXPECT_EQ(h.pane.hint()->text(), quarnkit::hint(MarkupTool::redact));

    h.place(*AnnotationFactory::arrow({100, 300}, {200, 350}, RGBA::moss, 3));
    EXPECT_EQ(h.sections(), (QStringList{"swatches", "stroke", "head", "actions"}));
    EXPECT_TRUE(h.pane.head()->isChecked());
    EXPECT_FALSE(h.pane.keyCap());
    EXPECT_FALSE(h.pane.selectedLabel()->isHidden());
    EXPECT_EQ(h.pane.title()->text(), "Arrow");
    h.place(*AnnotationFactory::line({100, 400}, {200, 450}, RGBA::moss, 3, false));
    EXPECT_FALSE(h.pane.head()->isChecked());
}

TEST(Inspector, SwatchesMarkTheMatchingColourAndRecolourTheSelection)
{
    PaneHarness h;
    MarkupModel::of(*h.model).chooseTool(MarkupTool::pen);
    ASSERT_EQ(h.pane.swatches().size(), 8u);
    EXPECT_EQ(h.pane.swatches()[2]->toolTip(), "Crimson (3)");
    h.click(h.pane.swatches()[2]);
    EXPECT_EQ(MarkupModel::of(*h.model).color(), RGBA::crimson);
    EXPECT_TRUE(h.pane.swatches()[2]->isChosen());
    EXPECT_FALSE(h.pane.customSwatch()->isChosen());

    const MarkRef mark = h.place(rectangle());
    EXPECT_TRUE(h.pane.swatches()[1]->isChosen()); // the mark's ink
    h.click(h.pane.swatches()[3]);
    EXPECT_EQ(h.stack().undoText(), "Color");
    const auto saved = h.saved();
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].color, RGBA::moss);

    // A colour of no swatch shows in the custom cell, which the colour panel sets.
    h.click(h.pane.customSwatch());
    ColorPanelBridge::shared().colorChanged(QColor::fromRgbF(0.1f, 0.9f, 0.9f));
    EXPECT_NEAR(h.read(mark).color->g, 0.9, 0.01);
    EXPECT_TRUE(h.pane.customSwatch()->isChosen());
    for (SwatchButton* s : h.pane.swatches()) EXPECT_FALSE(s->isChosen());
    ASSERT_TRUE(ColorPanelBridge::shared().panel());
    ColorPanelBridge::shared().panel()->hide(); // other tests find no stray window
}

TEST(Inspector, SlidersRoundAsTheModelKeepsThem)
{
    PaneHarness h;
    EXPECT_EQ(InspectorPane::strokeText(2.5), "2.5 pt");
    EXPECT_EQ(InspectorPane::strokeText(3), "3 pt");
    EXPECT_EQ(InspectorPane::textSizeText(17.6), "18 pt");

    const MarkRef mark = h.place(rectangle());
    h.pane.strokeSlider()->setValue(330); // 3.3 points
    EXPECT_DOUBLE_EQ(*h.read(mark).borderWidth, 3.5);
    EXPECT_EQ(h.pane.strokeText()->text(), "3.5 pt");
    EXPECT_EQ(h.stack().undoText(), "Stroke");
    h.pane.fill()->click();
    EXPECT_TRUE(h.read(mark).interiorColor.has_value());
    EXPECT_EQ(h.stack().undoText(), "Fill");

    MarkupModel::of(*h.model).chooseTool(MarkupTool::text);
    h.pane.textSizeSlider()->setValue(2140); // 21.4 points
    EXPECT_DOUBLE_EQ(MarkupModel::of(*h.model).textSize(), 21);
    EXPECT_EQ(h.pane.textSizeText()->text(), "21 pt");
    emit h.pane.faces()->selected(2);
    EXPECT_EQ(MarkupModel::of(*h.model).toolMemory().style(MarkupTool::text).font, quarnkit::TextFont::mono);
    EXPECT_EQ(h.pane.faces()->selection(), 2);
}

// The window's model and its document with no page view at all: what the
// inspector does goes through the model alone.
struct ViewlessHarness {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("defaults.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    std::unique_ptr<quarnkit::QuarnDocument> document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(1));
    ViewerModel model{&defaults, &positions};
    InspectorPane pane{&model};

    ViewlessHarness() { model.setDocument(document.get()); }
    QUndoStack& stack() { return document->undoStack(); }
    MarkRef add(const quarnkit::Annotation& mark)
    {
        return {0, *quarnkit::MarkEdits::add(*document, *document->pageId(0), mark, QStringLiteral("Add"))};
    }
    std::optional<quarnkit::Annotation> read(const MarkRef& mark)
    {
        return quarnkit::MarkEdits::find(*document, 0, mark.object);
    }
    // The page's marks, bottom first, as saved and opened again.
    std::vector<int> saved()
    {
        std::vector<int> objects;
        for (const auto& mark : quarnkit::MarkEdits::marks(*quarnkit::QuarnDocument::fromData(document->snapshot()), 0))
            objects.push_back(mark.objectNumber);
        return objects;
    }
    void click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center()); }
};

TEST(Inspector, ActionsReachTheSelectedMarkThroughTheModelWithNoPageView)
{
    ViewlessHarness h;
    ASSERT_FALSE(h.model.pdfView());
    const MarkRef box = h.add(rectangle());
    const MarkRef line = h.add(*AnnotationFactory::line({100, 300}, {200, 350}, RGBA::moss, 3, false));
    MarkupModel::of(h.model).select(line);
    ASSERT_FALSE(h.pane.isHidden());
    ASSERT_FALSE(h.pane.head()->isHidden());
    const quarnkit::ToolMemory memory = MarkupModel::of(h.model).toolMemory();

    h.pane.head()->click();
    EXPECT_EQ(h.read(line)->endEnding, "ClosedArrow");
    EXPECT_EQ(h.stack().undoText(), "Add Head");
    EXPECT_TRUE(h.pane.head()->isChecked());                  // the pane shows the mark as it is now
    EXPECT_EQ(MarkupModel::of(h.model).toolMemory(), memory); // the head is the mark's alone

    EXPECT_EQ(h.pane.duplicateButton()->toolTip(), "Duplicate (Ctrl+D)");
    EXPECT_EQ(h.pane.frontButton()->toolTip(), "Bring to front");
    h.click(h.pane.backButton());
    EXPECT_EQ(h.stack().undoText(), "Send to Back");
    EXPECT_EQ(h.saved(), (std::vector<int>{line.object, box.object}));
    h.click(h.pane.frontButton());
    EXPECT_EQ(h.stack().undoText(), "Bring to Front");
    EXPECT_EQ(h.saved(), (std::vector<int>{box.object, line.object}));

    h.click(h.pane.duplicateButton());
    EXPECT_EQ(h.stack().undoText(), "Duplicate");
    const auto copy = MarkupModel::of(h.model).selectedMark();
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->object, line.object);
    EXPECT_EQ(h.saved().size(), 3u);
    // Undone, the copy is gone and so is the selection.
    h.stack().undo();
    EXPECT_FALSE(MarkupModel::of(h.model).hasSelection());
    EXPECT_TRUE(h.pane.isHidden());
    h.stack().redo();

    MarkupModel::of(h.model).select(copy);
    EXPECT_EQ(h.pane.deleteButton()->toolTip(), "Delete the mark (Delete)");
    h.click(h.pane.deleteButton());
    EXPECT_EQ(h.stack().undoText(), "Delete");
    // The copy went; the two marks before it stay.
    EXPECT_EQ(h.saved(), (std::vector<int>{box.object, line.object}));
    EXPECT_TRUE(h.pane.isHidden()); // nothing selected, Select chosen
}

// What a screen reader and the keyboard meet in the inspector: the buttons
// that act once are push buttons, the colours are choices, every control
// has a name, and Tab reaches Delete, which Return presses.
TEST(Inspector, EveryControlIsNamedForWhatItDoesAndDeleteTakesTheKeys)
{
    ViewlessHarness h;
    h.add(rectangle());
    const MarkRef line = h.add(*AnnotationFactory::line({100, 300}, {200, 350}, RGBA::moss, 3, false));
    MarkupModel::of(h.model).select(line);
    ASSERT_FALSE(h.pane.isHidden());
    const auto element = [](QWidget* widget) { return QAccessible::queryAccessibleInterface(widget); };
    const QString press = QAccessibleActionInterface::pressAction();

    const std::vector<QAbstractButton*> actOnce{h.pane.duplicateButton(), h.pane.frontButton(), h.pane.backButton(),
                                                h.pane.deleteButton()};
    for (QAbstractButton* once : actOnce) {
        const QStringList actions = element(once)->actionInterface()->actionNames();
        EXPECT_EQ(element(once)->role(), QAccessible::Button) << once->toolTip().toStdString();
        EXPECT_TRUE(actions.value(0) == press && !actions.contains(QAccessibleActionInterface::toggleAction()))
            << actions.join(", ").toStdString();
    }
    element(h.pane.backButton())->actionInterface()->doAction(press);
    EXPECT_EQ(h.stack().undoText(), "Send to Back");

    EXPECT_EQ(element(h.pane.strokeSlider())->text(QAccessible::Name), "Stroke");
    EXPECT_EQ(element(h.pane.textSizeSlider())->text(QAccessible::Name), "Text size");
    EXPECT_EQ(element(h.pane.customSwatch())->text(QAccessible::Name), "Custom color");
    EXPECT_EQ(element(h.pane.customSwatch())->role(), QAccessible::RadioButton);
    EXPECT_EQ(element(h.pane.swatchSection()->findChild<SwatchButton*>())->role(), QAccessible::RadioButton);
}

// In the document window, Tab reaches every control the inspector shows for
// the selected mark, each named; a slider keeps its arrows (the mark stays
// where it is, its stroke or size changes) and Return on Delete deletes it.
TEST(Inspector, TabReachesEveryControlInTheWindowAndTheSlidersKeepTheirArrows)
{
    viewertest::Settings settings;
    auto document = quarnkit::QuarnDocument::fromData(testsupport::makeTextPdf(1));
    const auto add = [&](const std::optional<quarnkit::Annotation>& mark) {
        return MarkRef{0, *quarnkit::MarkEdits::add(*document, *document->pageId(0), *mark, QStringLiteral("Add"))};
    };
    const auto read = [&](const MarkRef& mark) { return *quarnkit::MarkEdits::find(*document, 0, mark.object); };
    const MarkRef line = add(AnnotationFactory::line({100, 300}, {200, 350}, RGBA::moss, 2, false));
    const MarkRef box = add(AnnotationFactory::rectangle({100, 500}, {200, 560}, RGBA::moss, 2, false));
    const MarkRef words = add(
        AnnotationFactory::freeText({100, 650}, "Words", RGBA::moss, 14, quarnkit::TextFont::sans, {0, 0, 612, 792}));
    document->undoStack().clear();
    auto screen = viewertest::showScreen(document.get(), QString(), settings);
    QApplication::setActiveWindow(screen.get());
    (void)QTest::qWaitForWindowActive(screen.get());
    ASSERT_TRUE(viewertest::waitForPages(*screen));
    auto* pane = screen->findChild<InspectorPane*>();
    const auto tab = [&] { QTest::keyClick(screen->windowHandle(), Qt::Key_Tab); };
    // The inspector's controls come right after the pages (the page list
    // before them takes the selection away as it takes the keys).
    const auto tabFromThePages = [&](QWidget* control) {
        screen->model().pdfView()->setFocus();
        for (int i = 0; i < 40 && QApplication::focusWidget() != control; ++i) tab();
    };

    const struct {
        MarkRef mark;
        QSlider* (InspectorPane::*slider)() const;
        double (*size)(const quarnkit::Annotation&);
        double before, after; // the slider's value before and after Right
    } rows[] = {
        {line, &InspectorPane::strokeSlider, [](const quarnkit::Annotation& a) { return *a.borderWidth; }, 2, 2.5},
        {box, &InspectorPane::strokeSlider, [](const quarnkit::Annotation& a) { return *a.borderWidth; }, 2, 2.5},
        {words, &InspectorPane::textSizeSlider, [](const quarnkit::Annotation& a) { return a.fontSize; }, 14, 15},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mark.object);
        MarkupModel::of(screen->model()).select(row.mark);
        QApplication::processEvents();
        ASSERT_TRUE(pane->isVisible());
        // The controls shown: buttons, check boxes and sliders; of a
        // segmented control, a radio group, the chosen segment alone.
        std::set<QWidget*> controls, reached;
        const auto tabStop = [](QWidget* each) {
            auto* segmented = qobject_cast<ChromeSegmented*>(each->parentWidget());
            if (!segmented) return true;
            const auto segments = segmented->findChildren<QAbstractButton*>();
            return segments.indexOf(each) == std::max(0, int(segmented->selection()));
        };
        for (QWidget* each : pane->findChildren<QWidget*>())
            if ((qobject_cast<QAbstractButton*>(each) || qobject_cast<QSlider*>(each)) && each->isVisible()
                && tabStop(each))
                controls.insert(each);
        // In the order they stand: top to bottom, left to right.
        std::vector<QWidget*> shown(controls.begin(), controls.end()), visited;
        const auto place = [&](QWidget* w) {
            const QPoint at = w->mapTo(pane, w->rect().center());
            return std::pair(at.y() / 8, at.x());
        };
        std::sort(shown.begin(), shown.end(), [&](QWidget* a, QWidget* b) { return place(a) < place(b); });
        screen->model().pdfView()->setFocus();
        for (int i = 0; i < 40 && reached.size() < controls.size(); ++i) {
            tab();
            if (controls.count(QApplication::focusWidget()) && reached.insert(QApplication::focusWidget()).second)
                visited.push_back(QApplication::focusWidget());
        }
        EXPECT_EQ(visited, shown);
        std::vector<std::string> missed;
        for (QWidget* control : controls)
            if (!reached.count(control))
                missed.push_back(QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name).toStdString());
        EXPECT_EQ(missed, std::vector<std::string>());
        EXPECT_EQ(reached.size(), controls.size());
        EXPECT_TRUE(reached.count((pane->*row.slider)()));
        EXPECT_EQ(accessibletest::unnamedControls(pane), QStringList());

        // Right on the slider: a step of the slider, not of the mark.
        tabFromThePages((pane->*row.slider)());
        ASSERT_EQ(QApplication::focusWidget(), (pane->*row.slider)());
        EXPECT_DOUBLE_EQ(row.size(read(row.mark)), row.before);
        const int steps = document->undoStack().count();
        QTest::keyClick(screen->windowHandle(), Qt::Key_Right);
        EXPECT_DOUBLE_EQ(row.size(read(row.mark)), row.after);
        EXPECT_EQ(document->undoStack().count(), steps + 1); // one step, and no move
        EXPECT_NE(document->undoStack().undoText(), "Move");
    }

    // Return on Delete, reached by Tab, deletes the selected mark.
    tabFromThePages(pane->deleteButton());
    ASSERT_EQ(QApplication::focusWidget(), pane->deleteButton());
    QTest::keyClick(screen->windowHandle(), Qt::Key_Return);
    EXPECT_EQ(document->undoStack().undoText(), "Delete");
    EXPECT_FALSE(quarnkit::MarkEdits::find(*document, 0, words.object));
}

TEST(Inspector, StandsBesideThePagesInTheDocumentWindow)
{
    MarkupHarness h;
    ViewerScreen screen(h.document.get(), QString(), nullptr, &h.defaults, &h.positions);
    screen.resize(1180, 800);
    screen.show();
    auto* pane = screen.findChild<InspectorPane*>();
    ASSERT_TRUE(pane);
    EXPECT_TRUE(pane->isHidden());
    MarkupModel::of(screen.model()).chooseTool(MarkupTool::rectangle);
    EXPECT_FALSE(pane->isHidden());
    QApplication::processEvents();
    EXPECT_EQ(pane->width(), InspectorPane::paneWidth + 1); // the hairline and the pane
}
