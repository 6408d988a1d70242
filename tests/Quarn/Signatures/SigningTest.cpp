// Signing as the user meets it: the toolbar item's popover and sheet, marks
// placed at the centre of the view as one undo step, and the saved library.
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Signatures/SigningModel.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/ToolPalette.h"
#include "Quarn/Signatures/SignControls.h"
#include "Quarn/Signatures/SignPopover.h"
#include "Quarn/Signatures/SignaturePad.h"
#include "Quarn/Signatures/SignatureSheet.h"
#include "Quarn/Viewer/TextSelection.h"
#include "Quarn/Viewer/PagePlacement.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Signatures/SigningHarness.h"
#include "Quarn/Viewer/ToolbarItems.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Markup/MarkCatalog.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "QuarnKit/Signatures/QuickFill.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <nlohmann/json.hpp>

#include <QAccessible>
#include <QLabel>

#include <functional>

using namespace quarn;
using namespace quarn::signtest;
using quarnkit::Signature;

namespace {

nlohmann::json readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return nlohmann::json::parse(bytes.constBegin(), bytes.constEnd(), nullptr, false);
}

Signature drawnSignature(Signature::Kind kind, double created)
{
    auto s = quarnkit::SignatureInk::drawn({{{10, 10}, {60, 40}, {120, 15}}}, kind);
    s->created = created;
    return *s;
}

// Opens the popover from the toolbar button, as a click does.
SignPopover* openPopover(SigningWindow& w)
{
    QTest::mouseClick(w.item->button(), Qt::LeftButton);
    SignPopover* popover = w.item->popover();
    EXPECT_TRUE(popover && popover->isVisible());
    return popover;
}

} // namespace

TEST(SigningTest, AStrokeDrawnAndSavedIsKeptAndPlacedAsOneSignatureStep)
{
    SigningWindow w;
    SignPopover* popover = openPopover(w);
    ASSERT_TRUE(popover);
    QTest::mouseClick(popover->chip(QStringLiteral("Add Signature…")), Qt::LeftButton);
    EXPECT_FALSE(w.item->isShowing()); // the popover goes first
    ASSERT_TRUE(testsupport::waitFor([&] { return w.item->sheet() && w.item->sheet()->isVisible(); }));
    SignatureSheet* sheet = w.item->sheet();
    EXPECT_EQ(sheet->kind(), Signature::Kind::signature);
    EXPECT_EQ(SigningModel::of(*w.model).signatureSheet(), Signature::Kind::signature);

    SignaturePad* pad = sheet->pad();
    QTest::mousePress(pad, Qt::LeftButton, Qt::NoModifier, {40, 120});
    for (int i = 1; i <= 20; ++i) QTest::mouseMove(pad, {40 + i * 15, 120 - (i % 5) * 12});
    QTest::mouseRelease(pad, Qt::LeftButton, Qt::NoModifier, {340, 120});
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);

    // Kept in signatures.json, then placed once the sheet has gone.
    const nlohmann::json file = readJson(w.libraryFile());
    ASSERT_TRUE(file.is_object());
    ASSERT_EQ(file["signatures"].size(), 1u);
    EXPECT_EQ(file["signatures"][0]["source"], "drawn");
    ASSERT_EQ(w.library.entries().size(), 1u);
    ASSERT_TRUE(testsupport::waitFor([&] { return !w.marks().empty(); }));
    EXPECT_FALSE(SigningModel::of(*w.model).signatureSheet().has_value());
    const auto marks = w.marks();
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0].subtype, "Ink");
    EXPECT_EQ(w.stack->undoText(), QStringLiteral("Signature"));
    ASSERT_TRUE(MarkEditor::of(w.view()).selected());
    EXPECT_EQ(MarkEditor::of(w.view()).selected()->object, marks[0].objectNumber);

    // Near the middle of the view.
    const QPointF centre = QRectF(w.view().viewport()->rect()).center();
    const QRectF shown = w.view().placement().convertFromPage(marks[0].rect, MarkEditor::of(w.view()).selected()->page);
    EXPECT_TRUE(shown.contains(centre));

    w.stack->undo();
    EXPECT_TRUE(w.marks().empty());
    EXPECT_EQ(w.library.entries().size(), 1u); // the saved signature stays
}

TEST(SigningTest, WhenTheLibraryCannotBeWrittenTheSheetSaysSoAndNothingIsPlaced)
{
    SigningWindow w;
    SigningModel::of(*w.model).presentSignatureSheet(Signature::Kind::signature);
    SignatureSheet* sheet = w.item->sheet();
    ASSERT_TRUE(sheet);
    QTest::mousePress(sheet->pad(), Qt::LeftButton, Qt::NoModifier, {40, 120});
    for (int i = 1; i <= 10; ++i) QTest::mouseMove(sheet->pad(), {40 + i * 20, 120 - (i % 3) * 15});
    QTest::mouseRelease(sheet->pad(), Qt::LeftButton, Qt::NoModifier, {240, 120});
    {
        testsupport::FileSizeLimit full(16);
        QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    }
    QApplication::processEvents();
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->error(), QStringLiteral("ravlen couldn't update your saved signatures."));
    EXPECT_TRUE(w.library.entries().empty());
    EXPECT_TRUE(w.marks().empty());
    // The same strokes save once there is room.
    QTest::mouseClick(sheet->saveButton(), Qt::LeftButton);
    EXPECT_EQ(w.library.entries().size(), 1u);
    EXPECT_TRUE(testsupport::waitFor([&] { return w.marks().size() == 1; }));
}

// Each is placed and selected, named in the inspector as the marks list
// names it (a signature is no mere drawing), and undone by that name.
TEST(SigningTest, StampsArePlacedSelectedAndUndoneByName)
{
    struct Case {
        std::function<void(SigningModel&)> place;
        QString name;
        std::string subtype;
        QString heading; // the inspector's
    };
    const std::vector<Case> cases{
        {&SigningModel::insertDate, QStringLiteral("Date"), "FreeText", "Text"},
        {&SigningModel::insertCheckmark, QStringLiteral("Checkmark"), "Ink", "Drawing"},
        {&SigningModel::insertCross, QStringLiteral("Cross"), "Ink", "Drawing"},
        {[](SigningModel& m) { m.placeSignature(drawnSignature(Signature::Kind::signature, 10)); },
         QStringLiteral("Signature"), "Ink", "Signature"},
        {[](SigningModel& m) { m.placeSignature(drawnSignature(Signature::Kind::initials, 10)); },
         QStringLiteral("Initials"), "Ink", "Initials"},
    };
    SigningWindow w;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        MarkupModel::of(*w.model).chooseTool(quarnkit::MarkupTool::pen);
        c.place(SigningModel::of(*w.model));
        EXPECT_EQ(MarkupModel::of(*w.model).markupPanel().title, c.heading);
        EXPECT_EQ(MarkupModel::of(*w.model).tool(), quarnkit::MarkupTool::select);
        const auto marks = w.marks();
        ASSERT_EQ(marks.size(), 1u);
        EXPECT_EQ(marks[0].subtype, c.subtype);
        ASSERT_TRUE(MarkEditor::of(w.view()).selected());
        EXPECT_EQ(MarkEditor::of(w.view()).selected()->object, marks[0].objectNumber);
        EXPECT_EQ(w.stack->undoText(), c.name);
        w.stack->undo();
        EXPECT_TRUE(w.marks().empty());
    }
}

TEST(SigningTest, AStampWhereOneAlreadySitsStepsOffItSoEachCanBePicked)
{
    SigningWindow w;
    // From the Sign menu, each at the middle of the view: two checkmarks, a date, a cross.
    for (const char* item : {"Insert Checkmark", "Insert Checkmark", "Insert Date", "Insert Cross"})
        w.commands->action(QString::fromLatin1(item))->trigger();
    const auto marks = w.marks();
    ASSERT_EQ(marks.size(), 4u);
    for (size_t i = 0; i < marks.size(); ++i)
        for (size_t j = i + 1; j < marks.size(); ++j)
            EXPECT_FALSE(marks[i].rect.intersects(marks[j].rect)) << i << " covers " << j;
    // A click at the middle of each picks that one.
    MarkEditor& editor = MarkEditor::of(w.view());
    for (const auto& mark : marks) {
        const QPoint at =
            w.view().placement().convertFromPage(platform::PdfPoint{mark.rect.midX(), mark.rect.midY()}, 0).toPoint();
        QTest::mouseClick(w.view().viewport(), Qt::LeftButton, {}, at);
        ASSERT_TRUE(editor.selected());
        EXPECT_EQ(editor.selected()->object, mark.objectNumber) << mark.subtype;
    }
    // Each stamp is one step; undo takes the last away and leaves the others where they are.
    EXPECT_EQ(w.stack->undoText(), QStringLiteral("Cross"));
    w.stack->undo();
    const auto left = w.marks();
    ASSERT_EQ(left.size(), 3u);
    for (size_t i = 0; i < left.size(); ++i) EXPECT_NEAR(left[i].rect.x, marks[i].rect.x, 0.01);
}

TEST(SigningTest, ADragBetweenTheStrokesOfASelectedSignatureMovesIt)
{
    // A page of text lines from top to bottom: a drag that missed the mark would select words.
    std::string text;
    for (int y = 740; y > 40; y -= 16)
        text += "BT /F1 12 Tf 40 " + std::to_string(y) + " Td (" + std::string(14, 'W')
                + " lorem ipsum dolor sit amet consectetur adipiscing elit sed do) Tj ET\n";
    const QByteArray pdf = testsupport::writePdf({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [4 0 R] /Count 1 >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> /Contents 5 0 R "
        ">>",
        "<< /Length " + std::to_string(text.size()) + " >>\nstream\n" + text + "\nendstream",
    });
    SigningWindow w(pdf);
    // Two upright strokes far apart, as a signature of two letters might be.
    auto signature =
        quarnkit::SignatureInk::drawn({{{0, 0}, {0, 60}}, {{200, 0}, {200, 60}}}, Signature::Kind::signature);
    ASSERT_TRUE(signature);
    SigningModel::of(*w.model).placeSignature(*signature);
    MarkEditor& editor = MarkEditor::of(w.view());
    ASSERT_TRUE(editor.selected());
    const auto placed = w.marks().front();
    const int steps = w.stack->count();

    const auto viewPoint = [&](double x, double y) {
        return w.view().placement().convertFromPage(platform::PdfPoint{x, y}, 0).toPoint();
    };
    const QPoint from = viewPoint(placed.rect.midX(), placed.rect.midY()); // between the strokes
    const QPoint to = viewPoint(placed.rect.midX() + 60, placed.rect.midY() - 80);
    QWidget* port = w.view().viewport();
    QTest::mousePress(port, Qt::LeftButton, {}, from);
    for (int i = 1; i <= 4; ++i) QTest::mouseMove(port, from + (to - from) * i / 4);
    QTest::mouseRelease(port, Qt::LeftButton, {}, to);

    EXPECT_TRUE(w.view().interactions().textSelection().current().isEmpty());
    ASSERT_EQ(w.marks().size(), 1u);
    const auto moved = w.marks().front();
    const double scale = w.view().scaleFactor();
    EXPECT_NEAR(moved.rect.x - placed.rect.x, 60, 2 / scale);
    EXPECT_NEAR(moved.rect.y - placed.rect.y, -80, 2 / scale);
    EXPECT_EQ(w.stack->count(), steps + 1);
    EXPECT_EQ(w.stack->undoText(), QStringLiteral("Move"));
    ASSERT_TRUE(editor.selected());
    EXPECT_EQ(editor.selected()->object, moved.objectNumber);
}

TEST(SigningTest, TheDateStampCarriesTodaysDateIntoTheSavedFile)
{
    SigningWindow w;
    SigningModel::of(*w.model).insertDate();
    const auto reopened = platform::PdfDocument::openBytes(pdfOf(*w.view().quarnDocument())->save());
    const auto entries = quarnkit::MarkCatalog::entries(*reopened, 0);
    ASSERT_EQ(entries.size(), 1u);
    const QString today = quarnkit::QuickFill::dateString(QDate::currentDate(), QLocale());
    EXPECT_EQ(QString::fromStdString(platform::PdfAnnotations::list(*reopened, 0).front().contents), today);
}

TEST(SigningTest, ThePopoverAsksBeforeDeleting)
{
    SigningWindow w;
    w.library.add(drawnSignature(Signature::Kind::signature, 20));
    w.library.add(drawnSignature(Signature::Kind::signature, 10));
    SignPopover* popover = openPopover(w);
    ASSERT_TRUE(popover);
    ASSERT_EQ(popover->cards().size(), 2u);
    SignatureCard* first = popover->cards()[0];
    const QUuid id = first->signature().id;

    QTest::mouseClick(first->deleteBadge(), Qt::LeftButton);
    EXPECT_TRUE(first->isConfirming());
    EXPECT_EQ(w.library.entries().size(), 2u); // asked, nothing deleted
    // The question and both words show whole, inside the card.
    QApplication::processEvents();
    for (QWidget* word : {static_cast<QWidget*>(first->question()), static_cast<QWidget*>(first->deleteButton()),
                          static_cast<QWidget*>(first->keepButton())}) {
        ASSERT_TRUE(word->isVisible());
        EXPECT_GE(word->width(), word->sizeHint().width());
        EXPECT_TRUE(first->rect().contains(QRect(word->mapTo(first, QPoint()), word->size())));
    }
    QTest::mouseClick(first, Qt::LeftButton, Qt::NoModifier, {5, 5}); // the body of a confirming card places nothing
    EXPECT_TRUE(w.marks().empty());
    QTest::mouseClick(first->keepButton(), Qt::LeftButton);
    EXPECT_FALSE(first->isConfirming());
    EXPECT_EQ(w.library.entries().size(), 2u);

    // Asking for another card closes the first one's question.
    QTest::mouseClick(first->deleteBadge(), Qt::LeftButton);
    QTest::mouseClick(popover->cards()[1]->deleteBadge(), Qt::LeftButton);
    EXPECT_FALSE(first->isConfirming());
    EXPECT_TRUE(popover->cards()[1]->isConfirming());
    QTest::mouseClick(popover->cards()[1]->keepButton(), Qt::LeftButton);

    QTest::mouseClick(first->deleteBadge(), Qt::LeftButton);
    QTest::mouseClick(first->deleteButton(), Qt::LeftButton);
    ASSERT_EQ(w.library.entries().size(), 1u);
    EXPECT_NE(w.library.entries()[0].id, id);
    EXPECT_EQ(readJson(w.libraryFile())["signatures"].size(), 1u);
    EXPECT_EQ(popover->cards().size(), 1u); // the cards follow the library
}

// A reader meets each card named by what it holds (the typed words, or
// which drawn one it is) and its kind, the help saying what a press does.
// While a card asks "Delete?", its place button is not enabled: a reader
// finds it so, with no press to make, and Tab passes it by.
TEST(SigningTest, ACardTellsAReaderWhatItHoldsAndIsNotEnabledWhileItAsks)
{
    SigningWindow w;
    const auto typed = [](Signature::Kind kind, double created, const char* text) {
        Signature s = drawnSignature(kind, created);
        s.source = Signature::Source::typed;
        s.text = text;
        return s;
    };
    // Newest first in the library, and so in the popover.
    w.library.add(drawnSignature(Signature::Kind::initials, 10));
    w.library.add(typed(Signature::Kind::initials, 20, "AL"));
    w.library.add(drawnSignature(Signature::Kind::signature, 30));
    w.library.add(typed(Signature::Kind::signature, 40, "Ann  Lee"));
    w.library.add(drawnSignature(Signature::Kind::signature, 50));
    SignPopover* popover = openPopover(w);
    ASSERT_TRUE(popover);
    QStringList names, helps;
    for (SignatureCard* card : popover->cards()) {
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(card);
        ASSERT_NE(node, nullptr);
        names << node->text(QAccessible::Name);
        helps << node->text(QAccessible::Description);
    }
    EXPECT_EQ(names, QStringList({"Drawn signature 1", "Ann Lee, signature", "Drawn signature 2", "AL, initials",
                                  "Drawn initials 1"}));
    EXPECT_EQ(helps, QStringList({"Place this signature", "Place this signature", "Place this signature",
                                  "Place these initials", "Place these initials"}));

    SignatureCard* card = popover->cards()[1];
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(card);
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(node->state().disabled);
    EXPECT_TRUE(node->state().focusable);
    ASSERT_NE(node->actionInterface(), nullptr);
    EXPECT_TRUE(node->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));

    // Tab to the card's badge, and Space asks.
    QTest::keyClick(w.window.windowHandle(), Qt::Key_Tab);
    for (int i = 0; i < 12 && QApplication::focusWidget() != card->deleteBadge(); ++i)
        QTest::keyClick(w.window.windowHandle(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), card->deleteBadge());
    QTest::keyClick(w.window.windowHandle(), Qt::Key_Space);
    ASSERT_TRUE(card->isConfirming());
    EXPECT_TRUE(node->state().disabled);
    EXPECT_FALSE(node->state().focusable);
    EXPECT_TRUE(node->actionInterface()->actionNames().isEmpty());
    node->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(w.marks().empty());
    // Round the popover by Tab: the question's words, never the card.
    for (int i = 0; i < 16; ++i) {
        QTest::keyClick(w.window.windowHandle(), Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), card) << i;
    }
    QTest::mouseClick(card->keepButton(), Qt::LeftButton);
    EXPECT_FALSE(node->state().disabled);
    EXPECT_TRUE(node->state().focusable);
}

TEST(SigningTest, AFailedDeleteIsToldInThePopoverAndChangesNothing)
{
    SigningWindow w;
    w.library.add(drawnSignature(Signature::Kind::initials, 20));
    SignPopover* popover = openPopover(w);
    ASSERT_TRUE(popover);
    const QUuid id = popover->cards()[0]->signature().id;
    popover->askDelete(id);
    {
        // No file may grow beyond a few bytes now: the rewrite fails, for any user.
        testsupport::FileSizeLimit limit(16);
        popover->deleteEntry(id);
    }
    EXPECT_EQ(popover->error(), QStringLiteral("ravlen couldn't update your saved signatures."));
    EXPECT_EQ(w.library.entries().size(), 1u);
    EXPECT_FALSE(popover->confirming().has_value());
}

// A saved signature is placed by a click on its card, or from the keyboard:
// Tab to the card, then Return or Space. Tab on to its badge asks to delete
// it, and the question is answered from the keyboard too.
TEST(SigningTest, ACardIsPlacedOrDeletedByClickOrKeys)
{
    struct Row {
        const char* name;
        std::vector<Qt::Key> keys; // none: a click on the card
        size_t marks, entries;
        bool open, focusOnCard;
    };
    const Row rows[] = {
        {"click", {}, 1, 1, false, false},
        {"Return", {Qt::Key_Tab, Qt::Key_Return}, 1, 1, false, false},
        {"Space", {Qt::Key_Tab, Qt::Key_Space}, 1, 1, false, false},
        {"badge, Delete", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space, Qt::Key_Space}, 0, 0, true, false},
        {"badge, Keep", {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Space, Qt::Key_Tab, Qt::Key_Return}, 0, 1, true, true},
    };
    for (const Row& row : rows) {
        SigningWindow w;
        w.library.add(drawnSignature(Signature::Kind::signature, 20));
        SignPopover* popover = openPopover(w);
        ASSERT_TRUE(popover) << row.name;
        if (row.keys.empty()) QTest::mouseClick(popover->cards()[0], Qt::LeftButton);
        // The keys go to the window, and from there to the open popover.
        for (const Qt::Key key : row.keys) QTest::keyClick(w.window.windowHandle(), key);
        EXPECT_EQ(w.marks().size(), row.marks) << row.name;
        EXPECT_EQ(w.library.entries().size(), row.entries) << row.name;
        EXPECT_EQ(w.item->isShowing(), row.open) << row.name;
        EXPECT_EQ(w.stack->undoText(), row.marks ? QStringLiteral("Signature") : QString()) << row.name;
        const QPointer<SignPopover> open = w.item->popover();
        const bool onCard = open && !open->cards().empty() && QApplication::focusWidget() == open->cards()[0];
        EXPECT_EQ(onCard, row.focusOnCard) << row.name;
    }
}

TEST(SigningTest, TheButtonOpensAndClosesThePopover)
{
    SigningWindow w;
    QTest::mouseClick(w.item->button(), Qt::LeftButton);
    EXPECT_TRUE(w.item->isShowing());
    EXPECT_TRUE(w.item->button()->isChosen());
    // An empty library shows the empty state and no section.
    bool emptyState = false, header = false;
    for (QLabel* l : w.item->popover()->findChildren<QLabel*>()) {
        emptyState = emptyState || l->text() == QStringLiteral("Add a signature once and place it on any PDF.");
        header = header || l->text() == QStringLiteral("Signatures");
    }
    EXPECT_TRUE(emptyState);
    EXPECT_FALSE(header);
    w.item->setShowing(false);
    EXPECT_FALSE(w.item->button()->isChosen());
    EXPECT_TRUE(!w.item->popover() || !w.item->popover()->isVisible());
}

TEST(SigningTest, NothingOpensOrIsPlacedWithoutAPage)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath(QStringLiteral("defaults.json")));
    quarnkit::ReadingPositionStore positions(defaults);
    SignatureLibrary library(dir.path());
    ViewerModel model(&defaults, &positions);
    SignToolbarItem item(&model, nullptr, &library);
    EXPECT_FALSE(SigningModel::of(model).canSign());
    item.setShowing(true);
    QTest::mouseClick(item.popover()->chip(QStringLiteral("Add Initials…")), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_FALSE(item.isShowing());
    EXPECT_FALSE(SigningModel::of(model).signatureSheet().has_value());
    EXPECT_FALSE(item.sheet());
    SigningModel::of(model).insertCheckmark(); // the beep, and nothing else
    SigningModel::of(model).placeSignature(drawnSignature(Signature::Kind::signature, 1));
}

TEST(SigningTest, CancellingTheSheetChangesNothing)
{
    SigningWindow w;
    SigningModel::of(*w.model).presentSignatureSheet(Signature::Kind::initials);
    ASSERT_TRUE(w.item->sheet());
    EXPECT_EQ(w.item->sheet()->kind(), Signature::Kind::initials);
    w.item->sheet()->reject();
    QApplication::processEvents();
    EXPECT_FALSE(SigningModel::of(*w.model).signatureSheet().has_value());
    EXPECT_TRUE(w.library.entries().empty());
    EXPECT_TRUE(w.marks().empty());
    EXPECT_FALSE(QFile::exists(w.libraryFile()));
}

TEST(SigningTest, TheViewerScreensToolbarCarriesTheItemAtTheRightBesideShareAndInfo)
{
    viewertest::Settings settings;
    quarnkit::QuarnDocument document;
    auto screen = viewertest::showScreen(&document, {}, settings);
    const QList<SignToolbarItem*> items = screen->findChildren<SignToolbarItem*>();
    ASSERT_EQ(items.size(), 1);
    ToolPalette* palette = screen->findChild<ToolPalette*>();
    DocumentToolbarItems* documentItems = screen->findChild<DocumentToolbarItems*>();
    ASSERT_TRUE(palette && documentItems);
    const int itemStart = items[0]->mapTo(screen.get(), QPoint(0, 0)).x();
    const int itemEnd = itemStart + items[0]->width();
    const int paletteEnd = palette->mapTo(screen.get(), QPoint(palette->width(), 0)).x();
    const int shareStart = documentItems->shareButton()->mapTo(screen.get(), QPoint(0, 0)).x();
    EXPECT_GT(itemStart - paletteEnd, 100); // across the flexible space
    EXPECT_LE(itemEnd, shareStart);
    EXPECT_LT(shareStart - itemEnd, 16); // right beside Share
    EXPECT_EQ(items[0]->button()->toolTip(), QStringLiteral("Fill and sign"));
}
