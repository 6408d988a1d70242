// What a keyboard and a screen reader meet in a document window: every sheet
// and popover among the application's windows, named, each of its controls a
// named stop of Tab; and the page, read out by characters, words and lines.
#include "Quarn/App/DocumentController.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/App/PageViewHost.h"
#include "Quarn/App/ViewerScreen.h"
#include "Quarn/App/ViewerScreenHarness.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/UnnamedControls.h"
#include "Quarn/Export/ExportSheet.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/ToolPalette.h"
#include "Quarn/Signatures/SignPopover.h"
#include "Quarn/Signatures/SignToolbarItem.h"
#include "Quarn/Signatures/SignatureSheet.h"
#include "Quarn/Viewer/DocumentInfoView.h"
#include "Quarn/Viewer/PageAccessibility.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Forms/FormsBanner.h"
#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Pages/PageTableView.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Forms/FormEditor.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Platform/PdfForms.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Viewer/TileRenderer.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPrintDialog>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <map>

using namespace quarn;

namespace {

// Windows read the standard settings: keep them away from the user's.
const bool privateConfig = testsupport::usePrivateConfigDir();

// A window of a corpus file, opened as the application opens one.
struct Shown {
    QTemporaryDir dir;
    DocumentController controller;
    DocumentWindow* window = nullptr;

    explicit Shown(const char* corpusName) : Shown(testsupport::corpusPath(corpusName)) {}
    explicit Shown(const std::string& source)
    {
        controller.showFailure = [](const QString&, const QString&, QWidget*) {};
        controller.askToSaveChanges = [](DocumentWindow&) { return DocumentController::CloseAnswer::discard; };
        const QString path = dir.filePath(QStringLiteral("doc.pdf"));
        QFile::copy(QString::fromStdString(source), path);
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        window = controller.openDocument(path);
        QApplication::setActiveWindow(window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        EXPECT_TRUE(viewertest::waitForPages(*window->screen()));
    }
    ~Shown() { controller.closeAll(); }

    QWindow* keys() const { return window->windowHandle(); }
    QuarnPDFView& view() const { return *window->screen()->pageViewHost()->view(); }
};

// Presses `button` as a keyboard user does: Tab to it, then Space.
void pressByKeys(QWindow* keys, QWidget* button)
{
    for (int i = 0; i < 100 && QApplication::focusWidget() != button; ++i) QTest::keyClick(keys, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), button) << button->accessibleName().toStdString();
    QTest::keyClick(keys, Qt::Key_Space);
}

// The names of the objects from `node` down a reader is told are focused
// (or, with `selected`, selected).
QStringList namesUnder(QAccessibleInterface* node, bool selected = false)
{
    QStringList found;
    if (selected ? node->state().selected : node->state().focused) found << node->text(QAccessible::Name);
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* child = node->child(i)) found << namesUnder(child, selected);
    return found;
}

// A screen reader listens while it lives, as the platform tells when one starts.
struct ReaderListening {
    ReaderListening() { QAccessible::setActive(true); }
    ~ReaderListening() { QAccessible::setActive(false); }
};

} // namespace

// Each sheet and popover, opened as the user opens it, is one of the
// application's windows a reader finds by its name; every control in it has
// a name, and Tab, sent to the window, stops on each of them in turn and on
// nothing unnamed (a scroll area, a frame). A popover takes the keys as it
// opens, and Escape gives them back to what opened it.
TEST(ScreenReader, EverySheetAndPopoverIsNamedAndGoneThroughByTab)
{
    Shown shown("pdflatex-4-pages.pdf");
    auto* sign = shown.window->findChild<SignToolbarItem*>();
    ASSERT_NE(sign, nullptr);
    auto* tools = shown.window->findChild<ToolPalette*>();
    ASSERT_NE(tools, nullptr);
    ToolGroupButton* shapes = tools->groupButton(quarnkit::ToolGroup::shapes);
    ToolGroupButton* markup = tools->groupButton(quarnkit::ToolGroup::textMarkup);
    struct Row {
        const char* name;
        std::function<void()> open; // none: `button` pressed by the keys
        QWidget* button;
        std::function<QWidget*()> find;
        bool popover; // its keys come through the window under it
    };
    const Row rows[] = {
        {"Document info", [&] { QTest::keyClick(shown.keys(), Qt::Key_I, Qt::ControlModifier); }, nullptr,
         [&] { return static_cast<QWidget*>(shown.window->findChild<DocumentInfoPopover*>()); }, true},
        {"Fill and sign", {}, sign->button(), [&] { return static_cast<QWidget*>(sign->popover()); }, true},
        {"Shapes tools", [&] { QTest::mouseClick(shapes->menuPart(), Qt::LeftButton); }, nullptr,
         [&] { return static_cast<QWidget*>(shapes->openMenu()); }, true},
        {"Text markup tools", {}, markup->menuPart(), [&] { return static_cast<QWidget*>(markup->openMenu()); }, true},
        {"Export", [&] { QTest::keyClick(shown.keys(), Qt::Key_E, Qt::ControlModifier); }, nullptr,
         [&] { return static_cast<QWidget*>(shown.window->findChild<ExportSheet*>()); }, false},
        {"New signature",
         [&] { QTest::keyClick(shown.keys(), Qt::Key_S, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier); },
         nullptr, [&] { return static_cast<QWidget*>(sign->sheet()); }, false},
    };
    for (const Row& row : rows) {
        QWidget* opener = row.button ? row.button : QApplication::focusWidget();
        if (row.open) row.open();
        else pressByKeys(shown.keys(), row.button);
        ASSERT_TRUE(testsupport::waitFor([&] { return row.find() && row.find()->isVisible(); })) << row.name;
        QWidget* sheet = row.find();
        if (row.popover) {
            EXPECT_TRUE(testsupport::waitFor([&] {
                return sheet == QApplication::focusWidget() || sheet->isAncestorOf(QApplication::focusWidget());
            })) << row.name;
        }
        QAccessibleInterface* node = accessibletest::applicationWindow(sheet);
        ASSERT_NE(node, nullptr) << row.name;
        EXPECT_EQ(node->text(QAccessible::Name), QString::fromUtf8(row.name));
        EXPECT_EQ(node->role(), QAccessible::Dialog) << row.name;
        EXPECT_GT(node->childCount(), 0) << row.name;
        EXPECT_EQ(accessibletest::unnamedControls(sheet), QStringList()) << row.name;

        QWindow* keys = row.popover ? shown.keys() : sheet->windowHandle();
        const QList<QWidget*> stops = accessibletest::tabStops(keys);
        EXPECT_GT(stops.size(), 2) << row.name;
        EXPECT_EQ(accessibletest::unnamedStops(stops), QStringList()) << row.name;
        for (QWidget* stop : stops) EXPECT_TRUE(sheet->isAncestorOf(stop)) << row.name;
        EXPECT_EQ(accessibletest::unreached(sheet, stops), QStringList()) << row.name;

        QTest::keyClick(keys, Qt::Key_Escape);
        ASSERT_TRUE(testsupport::waitFor([&] { return !row.find() || !row.find()->isVisible(); })) << row.name;
        QApplication::setActiveWindow(shown.window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(shown.window));
        if (row.popover) {
            QCoreApplication::processEvents(); // what the closing hands on, the window's own rules
            EXPECT_EQ(QApplication::focusWidget(), opener) << row.name;
        }
    }
}

// The page a reader meets is the page being read: named after it, with its
// text from the text layer find and selection use. The text is read on a
// worker while the window goes on answering: the page reads as empty until
// it comes. The caret stands at the reading position, the first line shown.
TEST(ScreenReader, ThePageIsReadByCharactersWordsAndLines)
{
    Shown shown("pdflatex-4-pages.pdf");
    QuarnPDFView& view = shown.view();
    view.setFocus(Qt::OtherFocusReason);
    const auto textOf = [&](int page) {
        return QString::fromStdString(pdfOf(*view.quarnDocument())->textPage(page).text());
    };
    PageAccessibility& reading = view.interactions().accessibility();
    testsupport::WorkerGate gate;
    reading.workerHook = gate.hook();
    const ReaderListening reader;

    QAccessibleInterface* page = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->role(), QAccessible::Document);
    EXPECT_EQ(page->text(QAccessible::Name), QStringLiteral("Page 1 of 4"));
    QAccessibleTextInterface* text = page->textInterface();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->characterCount(), 0); // a worker reads it
    ASSERT_TRUE(gate.waitUntilReached());
    EXPECT_EQ(text->characterCount(), 0); // still coming, and the window answers
    reading.workerHook = nullptr;
    gate.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return text->characterCount() > 0; }));
    const QString first = textOf(0);
    ASSERT_TRUE(first.startsWith(QStringLiteral("Hello, here is some text")));
    EXPECT_EQ(text->text(0, -1), first);
    EXPECT_EQ(text->cursorPosition(), 0); // the page's top is shown

    int start = 0, end = 0;
    EXPECT_EQ(text->textAtOffset(1, QAccessible::CharBoundary, &start, &end), QStringLiteral("e"));
    EXPECT_EQ(text->textAtOffset(8, QAccessible::WordBoundary, &start, &end), QStringLiteral("here"));
    EXPECT_EQ(std::pair(start, end), std::pair(7, 11));
    const QString line = first.left(first.indexOf(QLatin1Char('\n')) + 1);
    EXPECT_EQ(text->textAtOffset(10, QAccessible::LineBoundary, &start, &end), line);
    EXPECT_EQ(std::pair(start, end), std::pair(0, int(line.size())));
    // Each character lies on the screen where the page shows it.
    const QRect where = text->characterRect(0);
    EXPECT_FALSE(where.isEmpty());
    EXPECT_EQ(text->offsetAtPoint(where.center()), 0);

    // Down the page: the caret follows the first line shown.
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->value() + 160);
    ASSERT_TRUE(testsupport::waitFor([&] { return text->cursorPosition() > 0; }));
    const int top = view.viewport()->mapToGlobal(QPoint(0, 0)).y();
    EXPECT_GE(text->characterRect(text->cursorPosition()).center().y(), top);
    EXPECT_LT(text->characterRect(text->cursorPosition() - 2).center().y(), top); // the line above, before its break

    // The last page, by its key sent to the window: a new name, and no
    // text until that page's has come.
    testsupport::WorkerGate next;
    reading.workerHook = next.hook();
    QTest::keyClick(shown.keys(), Qt::Key_End);
    ASSERT_TRUE(testsupport::waitFor([&] { return page->text(QAccessible::Name) == QStringLiteral("Page 4 of 4"); }));
    EXPECT_EQ(text->characterCount(), 0);
    ASSERT_TRUE(next.waitUntilReached());
    reading.workerHook = nullptr;
    next.release();
    ASSERT_TRUE(testsupport::waitFor([&] { return text->characterCount() > 0; }));
    EXPECT_EQ(text->text(0, -1), textOf(3));
}

// Right-to-left pages reach the reader in the order they are read, as the
// file was written and as pdftotext reads them, not in the order their
// glyphs were drawn (from the left end, pieces apart): Arabic and Hebrew
// with numbers, Latin words and vowel marks, in right-to-left paragraphs
// and in a left-to-right one, on a page shown upright by its rotation too.
// A glyph whose letter the file does not give (a ligature's other parts)
// is left out rather than read as a replacement character; a character
// the file gives as a presentation form or ligature is read as its letters.
TEST(ScreenReader, RightToLeftPagesAreReadInReadingOrder)
{
    const QStringList written = {
        QStringLiteral("مرحبا بالعالم، هذه صفحة 42 من كتاب PDF الجديد."),
        QStringLiteral("שלום עולם, זהו עמוד 7 בעברית."),
        QStringLiteral("حَبِيبِي يَا نُورَ الْعَيْن"),
        QStringLiteral("קריאה מימין לשמאל, שורה 2."),
        QStringLiteral("The word كتاب means book, and שלום means peace."),
    };
    // Arabic in a CID TrueType font whose characters the file gives as
    // presentation forms, drawn from the left: meem, lam-alef, initial seen.
    QTemporaryDir dir;
    const std::string forms = dir.filePath("presentation-forms.pdf").toStdString();
    std::vector<std::string> objects = testsupport::textPageObjects(
        "\\000\\001\\000\\002\\000\\003", "<< /Type /Font /Subtype /Type0 /BaseFont /ArialMT /Encoding /Identity-H "
                                          "/DescendantFonts [6 0 R] /ToUnicode 7 0 R >>");
    objects.push_back("<< /Type /Font /Subtype /CIDFontType2 /BaseFont /ArialMT /CIDSystemInfo << /Registry (Adobe) "
                      "/Ordering (Identity) /Supplement 0 >> /FontDescriptor 8 0 R /DW 600 >>");
    objects.push_back(testsupport::pdfStream(
        "", "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CMapName /Adobe-Identity-UCS def "
            "/CMapType 2 def 1 begincodespacerange <0000> <FFFF> endcodespacerange 3 beginbfchar <0001> <FEE1> "
            "<0002> <FEFC> <0003> <FEB3> endbfchar endcmap CMapName currentdict /CMap defineresource pop end end"));
    objects.push_back("<< /Type /FontDescriptor /FontName /ArialMT /Flags 32 /FontBBox [0 -200 1000 800] "
                      "/ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 >>");
    testsupport::writeFile(QString::fromStdString(forms), testsupport::writePdf(objects));
    // Latin ligatures, which the page's text gives as their own characters ("ﬁ", "ﬂ", "ﬄ").
    const std::string ligatures = dir.filePath("ligatures.pdf").toStdString();
    testsupport::writeFile(QString::fromStdString(ligatures),
                           testsupport::writePdf(testsupport::textPageObjects(
                               "\\201nd ba\\203e \\202ow", "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica "
                                                           "/Encoding << /Differences [129 /fi /fl /ffl] >> >>")));
    struct Row {
        std::string file;
        QStringList lines; // the text's lines that hold anything
        bool upright;      // its lines run across the screen
    };
    const Row rows[] = {
        {testsupport::testDataPath("right-to-left.pdf"), written, true},
        {testsupport::testDataPath("right-to-left-rotated.pdf"), written, true},
        // Left-to-right paragraphs: the full stop at the right end comes first.
        {testsupport::testDataPath("hebrew-plain-text.pdf"),
         {QStringLiteral(".שלום עולם. זהו עמוד בעברית לבדיקה"), QStringLiteral(".קריאה מימין לשמאל")},
         true},
        // Turned sideways on the screen.
        {testsupport::corpusPath("habibi-rotated.pdf"), {QStringLiteral("حَبيبي habibi حَبيبي ")}, false},
        // Letters, not the forms: speech and braille know letters; the ligature is two.
        {forms, {QStringLiteral("سلام")}, true},
        {ligatures, {QStringLiteral("find baffle flow")}, true},
    };
    for (const Row& row : rows) {
        Shown shown(row.file);
        const ReaderListening reader;
        QAccessibleInterface* page = QAccessible::queryAccessibleInterface(&shown.view());
        ASSERT_NE(page, nullptr) << row.file;
        QAccessibleTextInterface* text = page->textInterface();
        ASSERT_NE(text, nullptr) << row.file;
        ASSERT_TRUE(testsupport::waitFor([&] { return text->characterCount() > 0; })) << row.file;
        const QString read = text->text(0, -1);
        EXPECT_FALSE(read.contains(QChar(0xFFFD))) << row.file;
        QStringList lines = read.split(QLatin1Char('\n'));
        lines.removeAll(QString());
        EXPECT_EQ(lines, row.lines) << row.file;
        // Each character still lies where the page shows it: read first, the
        // first line's first letter stands right of the letters after it.
        const QRect first = text->characterRect(0);
        ASSERT_FALSE(first.isEmpty()) << row.file;
        EXPECT_EQ(text->offsetAtPoint(first.center()), 0) << row.file;
        const bool rightToLeft = read.front().direction() == QChar::DirAL || read.front().direction() == QChar::DirR;
        if (rightToLeft && row.upright) {
            EXPECT_GT(first.center().x(), text->characterRect(3).center().x()) << row.file;
        }
    }
}

// A page without text says what it is once its text is read: a scan, an
// image with no text to read; a blank page, nothing.
TEST(ScreenReader, AScannedPageSaysItIsAnImage)
{
    QTemporaryDir dir;
    const QString blank = testsupport::writeFile(dir, "blank.pdf", testsupport::makeBlankPagesPdf(1, 0));
    const struct {
        std::string file;
        const char* description;
    } rows[] = {
        {testsupport::corpusPath("grayscale-image.pdf"), "This page is an image, with no text to read."},
        {blank.toStdString(), ""},
    };
    for (const auto& row : rows) {
        Shown shown(row.file);
        const ReaderListening reader;
        QAccessibleInterface* page = QAccessible::queryAccessibleInterface(&shown.view());
        EXPECT_EQ(page->textInterface()->characterCount(), 0) << row.file;
        ASSERT_TRUE(testsupport::waitFor([&] { return shown.view().interactions().accessibility().keptTexts() > 0; }));
        EXPECT_EQ(page->text(QAccessible::Description), row.description) << row.file;
    }
}

// One object at a time tells a reader it has the keys, whichever windows are
// open: not the thumbnail of the page shown beside the page, nor one in a
// window behind, nor the page's drawing area beside the page, nor a note's.
TEST(ScreenReader, OneObjectAtATimeIsFocused)
{
    const auto pageList = [](Shown& shown) {
        PagesModel::of(shown.window->screen()->model()).showSidebarTab(quarnkit::SidebarTab::pages);
        PageTableView* list = nullptr;
        testsupport::waitFor([&] { return (list = shown.window->findChild<PageTableView*>()) && list->isVisible(); });
        return list;
    };
    Shown behind("multicolumn.pdf");
    PageTableView* behindList = pageList(behind);
    ASSERT_NE(behindList, nullptr);
    behindList->setFocus(Qt::TabFocusReason);
    behindList->setCurrentIndex(behindList->model()->index(0, 0));
    Shown front("pdflatex-4-pages.pdf");
    const ReaderListening reader;
    PageTableView* list = pageList(front);
    ASSERT_NE(list, nullptr);
    const struct {
        QWidget* keys;
        QStringList focused;
    } rows[] = {
        {&front.view(), {"Page 1 of 4"}}, {list, {"Page 1"}}, // the item the keys are on, not its list too
    };
    for (const auto& row : rows) {
        row.keys->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(namesUnder(QAccessible::queryAccessibleInterface(qApp)), row.focused);
    }
    // The print dialog: its control with the keys, not the current rows of
    // its closed combo boxes' lists too.
    front.view().setFocus(Qt::TabFocusReason);
    QTest::keyClick(front.keys(), Qt::Key_P, Qt::ControlModifier);
    QPrintDialog* print = nullptr;
    ASSERT_TRUE(
        testsupport::waitFor([&] { return (print = front.window->findChild<QPrintDialog*>()) && print->isVisible(); }));
    ASSERT_TRUE(testsupport::waitFor([&] { return print->isAncestorOf(QApplication::focusWidget()); }));
    ASSERT_FALSE(print->findChildren<QComboBox*>().isEmpty());
    EXPECT_EQ(namesUnder(QAccessible::queryAccessibleInterface(qApp)).size(), 1)
        << namesUnder(QAccessible::queryAccessibleInterface(qApp)).join(", ").toStdString();
    print->reject();
    QApplication::setActiveWindow(front.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(front.window));
    // A note being typed: its words, not the area they are drawn in as well.
    MarkupModel::of(front.window->screen()->model()).setTool(quarnkit::MarkupTool::note);
    QTest::mouseClick(front.view().viewport(), Qt::LeftButton, {}, front.view().viewport()->rect().center());
    ASSERT_TRUE(testsupport::waitFor([&] { return MarkEditor::of(front.view()).hasEditor(); }));
    EXPECT_EQ(namesUnder(QAccessible::queryAccessibleInterface(qApp)), QStringList{"Note"});
}

// The part of the window its own keys open takes the keys (its first field,
// the list of the tab chosen), and a reader is told of one object focused.
TEST(ScreenReader, WhatTheWindowsKeysOpenTakesTheKeys)
{
    // Three pages; an outline of A (page 1) and B (page 2); two squares on page 1.
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] ";
    const std::string square = "<< /Type /Annot /Subtype /Square /C [1 0 0] /P 6 0 R /Rect ";
    QTemporaryDir dir;
    Shown shown(
        testsupport::writeFile(dir, "doc.pdf",
                               testsupport::writePdf({"<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>",
                                                      "<< /Type /Pages /Kids [6 0 R 7 0 R 8 0 R] /Count 3 >>",
                                                      "<< /Type /Outlines /First 4 0 R /Last 5 0 R /Count 2 >>",
                                                      "<< /Title (A) /Parent 3 0 R /Next 5 0 R /Dest [6 0 R /Fit] >>",
                                                      "<< /Title (B) /Parent 3 0 R /Prev 4 0 R /Dest [7 0 R /Fit] >>",
                                                      page + "/Annots [9 0 R 10 0 R] >>", page + ">>", page + ">>",
                                                      square + "[20 20 80 80] >>", square + "[120 120 180 180] >>"}))
            .toStdString());
    const auto widgetOf = [](auto* part, auto widget) -> QWidget* { return part ? (part->*widget)() : nullptr; };
    const struct {
        const char* name;
        QKeyCombination open;
        std::function<QWidget*()> takesKeys; // once open
        QString typed;                       // then typed, or Down when empty
        QStringList focused;                 // what a reader is told is focused after it; empty: any one
    } rows[] = {
        {"Document Info",
         Qt::ControlModifier | Qt::Key_I,
         [] {
             auto* popover = qobject_cast<DocumentInfoPopover*>(QApplication::activePopupWidget());
             return popover ? popover->view()->field(DocumentInfoView::Field::title) : nullptr;
         },
         "Typed",
         {"Title"}},
        {"Outline",
         Qt::ControlModifier | Qt::AltModifier | Qt::Key_2,
         [&] { return widgetOf(shown.window->findChild<OutlineList*>(), &OutlineList::view); },
         {},
         {"B, page 2"}},
        {"Marks",
         Qt::ControlModifier | Qt::AltModifier | Qt::Key_3,
         [&] { return widgetOf(shown.window->findChild<MarksList*>(), &MarksList::tree); },
         {},
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        shown.view().setFocus(Qt::OtherFocusReason);
        QTest::keyClick(shown.keys(), row.open.key(), row.open.keyboardModifiers());
        QWidget* taker = nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] { return (taker = row.takesKeys()) && taker->hasFocus(); }));
        for (const QChar c : row.typed) QTest::keyClick(QGuiApplication::focusWindow(), c.toLatin1());
        if (!row.typed.isEmpty()) {
            EXPECT_EQ(static_cast<QLineEdit*>(taker)->text(), row.typed);
            EXPECT_EQ(namesUnder(QAccessible::queryAccessibleInterface(taker)), row.focused);
            QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
            continue;
        }
        QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Down);
        EXPECT_EQ(shown.window->screen()->model().pageIndex(), 0); // the list's row moved, not the page
        // One object focused, the row the keys are on, and that row the one selected.
        const QStringList focused = namesUnder(QAccessible::queryAccessibleInterface(shown.window));
        ASSERT_EQ(focused.size(), 1) << focused.join(", ").toStdString();
        EXPECT_TRUE(row.focused.isEmpty() || focused == row.focused) << focused.join(", ").toStdString();
        EXPECT_EQ(namesUnder(QAccessible::queryAccessibleInterface(taker), true), focused);
    }
}

// Without a screen reader the page's text costs nothing: no page is read or
// kept, however far the user goes or whatever asks. A reader that starts
// listening has the page read; one that leaves takes the kept texts along.
TEST(ScreenReader, NoPageTextIsReadOrKeptWithoutAReader)
{
    Shown shown("pdflatex-4-pages.pdf");
    QuarnPDFView& view = shown.view();
    PageAccessibility& reading = view.interactions().accessibility();
    ASSERT_FALSE(reading.listening());
    int reads = 0;
    reading.workerHook = [&reads] { ++reads; };
    QAccessibleInterface* page = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(page, nullptr);
    QAccessibleTextInterface* text = page->textInterface();
    ASSERT_NE(text, nullptr);
    for (const Qt::Key key : {Qt::Key_End, Qt::Key_Home, Qt::Key_PageDown}) {
        QTest::keyClick(shown.keys(), key);
        EXPECT_EQ(text->characterCount(), 0);
    }
    // A read started would have run on the workers, and its answer come.
    ASSERT_TRUE(quarnkit::TileRenderer::workerPool().waitForDone(30000));
    QCoreApplication::processEvents();
    EXPECT_EQ(reads, 0);
    EXPECT_EQ(reading.keptTexts(), 0);

    {
        const ReaderListening reader;
        ASSERT_TRUE(testsupport::waitFor([&] { return text->characterCount() > 0; }));
        EXPECT_GT(reads, 0);
        EXPECT_EQ(reading.keptTexts(), 1);
    }
    EXPECT_FALSE(reading.listening());
    EXPECT_EQ(reading.keptTexts(), 0);
    EXPECT_EQ(text->characterCount(), 0);
}

namespace {

// A book of pages of mixed sizes, as scanned books are: each page's crop box
// within a larger sheet, "Page N" near its top.
QByteArray mixedSizeBook()
{
    const std::pair<int, int> sizes[] = {{489, 734}, {439, 432}, {396, 594}, {396, 594},
                                         {489, 734}, {439, 432}, {396, 594}, {396, 594}};
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>", "",
                                        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    std::string kids;
    for (const auto& [w, h] : sizes) {
        const auto n = [](int value) { return std::to_string(value); };
        kids += n(int(objects.size()) + 1) + " 0 R ";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + n(w + 20) + " " + n(h + 20)
                          + "] /CropBox [10 10 " + n(w + 10) + " " + n(h + 10)
                          + "] /Resources << /Font << /F1 3 0 R >> >> /Contents " + n(int(objects.size()) + 2)
                          + " 0 R >>");
        objects.push_back(testsupport::pdfStream("", "BT /F1 24 Tf 46 " + n(h - 50) + " Td (Page "
                                                         + n(int(objects.size()) / 2) + ") Tj ET"));
    }
    objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count 8 >>";
    return testsupport::writePdf(objects);
}

} // namespace

// The page named, the page field and the text read follow the page the view
// shows, whatever the shapes of the pages around it: Page Down, sent to the
// window, goes to each page (each spread) in turn, in each display mode,
// down a file of pages turned every way and a book of mixed sizes at 90 %,
// and each page named stands in the view.
TEST(ScreenReader, ThePageNamedIsThePageShownInEveryMode)
{
    QTemporaryDir dir;
    const std::string turned = testsupport::corpusPath("habibi-rotated.pdf");
    const std::string book = testsupport::writeFile(dir, QStringLiteral("book.pdf"), mixedSizeBook()).toStdString();
    using quarnkit::DisplayMode;
    const struct {
        const std::string& file;
        DisplayMode mode;
        std::optional<double> zoom; // fitted without
    } rows[] = {
        {turned, DisplayMode::continuous, {}},         {turned, DisplayMode::singlePage, {}},
        {turned, DisplayMode::twoPagesContinuous, {}}, {turned, DisplayMode::twoPages, {}},
        {book, DisplayMode::continuous, 0.9},          {book, DisplayMode::singlePage, 0.9},
        {book, DisplayMode::twoPagesContinuous, 0.9},  {book, DisplayMode::twoPages, 0.9},
    };
    for (const auto& row : rows) {
        Shown shown(row.file);
        QuarnPDFView& view = shown.view();
        ViewerModel& model = shown.window->screen()->model();
        QLineEdit* field = shown.window->screen()->statusBar()->pageField();
        const ReaderListening reader;
        QAccessibleInterface* page = QAccessible::queryAccessibleInterface(&view);
        ASSERT_NE(page, nullptr);
        model.setDisplayMode(row.mode);
        QApplication::processEvents();
        if (row.zoom) model.setZoom(*row.zoom);
        QTest::keyClick(shown.keys(), Qt::Key_Home);
        std::vector<int> named;
        for (int press = 0; press < 3 * view.pageCount(); ++press) {
            const int current = view.currentPageIndex();
            if (named.empty() || named.back() != current) named.push_back(current);
            const QString name = QStringLiteral("Page %1 of %2").arg(current + 1).arg(view.pageCount());
            EXPECT_TRUE(testsupport::waitFor(
                [&] { return page->text(QAccessible::Name) == name && field->text() == QString::number(current + 1); },
                10000))
                << int(row.mode) << " at " << current << ": " << page->text(QAccessible::Name).toStdString()
                << ", field " << field->text().toStdString();
            // The text read is that page's: its characters lie on it.
            QAccessibleTextInterface* text = page->textInterface();
            EXPECT_TRUE(testsupport::waitFor(
                [&] {
                    if (text->characterCount() == 0) return false;
                    const QRect on = text->characterRect(text->characterCount() / 2);
                    const QRectF shownPage =
                        view.placement().pageRect(current).translated(view.viewport()->mapToGlobal(QPoint(0, 0)));
                    return shownPage.contains(QRectF(on).center());
                },
                10000))
                << int(row.mode) << " at " << current;
            // The page named shows at least half of itself, or fills half the view.
            const QRectF shownPart = view.placement().pageRect(current).intersected(QRectF(view.viewport()->rect()));
            const QRectF whole = view.placement().pageRect(current);
            EXPECT_GE(shownPart.height(), 0.5 * std::min(whole.height(), double(view.viewport()->height())) - 1)
                << int(row.mode) << " at " << current;
            QTest::keyClick(shown.keys(), Qt::Key_PageDown);
        }
        // Every page, or every spread by its first page, once and in turn.
        std::vector<int> rowsRead;
        for (int first = 0; first < view.pageCount(); first += quarnkit::showsSpreads(row.mode) ? 2 : 1)
            rowsRead.push_back(first);
        EXPECT_EQ(named, rowsRead) << row.file << " in mode " << int(row.mode);
    }
}

// The banner's buttons are stops of Tab in the window, and the window's
// shortcuts run while a field is typed in, but for the keys the field edits
// with: Ctrl+E opens the export sheet from a text field, as the toolbar's
// button does, and leaves the field's words as they were.
TEST(ScreenReader, TheFormsBannerIsReachedByTabAndShortcutsRunFromAField)
{
    Shown shown("libreoffice-form.pdf");
    FormBanner* banner = shown.window->screen()->formsBanner();
    ASSERT_TRUE(testsupport::waitFor([&] { return banner->isShown(); }));
    // From the page, through its fields (each made an editor as Tab reaches
    // it), round the window and back to the page; and the same backwards.
    for (const Qt::KeyboardModifiers way : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
        shown.view().setFocus(Qt::OtherFocusReason);
        bool fill = false, hide = false, back = false, fields = false;
        for (int press = 0; press < 80 && !back; ++press) {
            QTest::keyClick(shown.keys(), Qt::Key_Tab, way);
            QWidget* focus = QApplication::focusWidget();
            fill = fill || focus == banner->fillButton();
            hide = hide || focus == banner->closeButton();
            fields = fields || qobject_cast<QLineEdit*>(focus);
            back = fill && hide && focus == &shown.view();
        }
        EXPECT_TRUE(fill) << (way ? "backwards" : "");
        EXPECT_TRUE(hide) << (way ? "backwards" : "");
        EXPECT_TRUE(fields) << (way ? "backwards" : "");
        EXPECT_TRUE(back) << (way ? "backwards" : "");
    }

    for (int press = 0; press < 80 && QApplication::focusWidget() != banner->fillButton(); ++press)
        QTest::keyClick(shown.keys(), Qt::Key_Tab);
    QTest::keyClick(shown.keys(), Qt::Key_Space);
    FormEditor& editor = *FormWatcher::of(shown.window->screen()->model()).editor();
    ASSERT_TRUE(testsupport::waitFor([&] { return editor.editingField().has_value(); }));
    auto* line = qobject_cast<QLineEdit*>(editor.editorWidget());
    ASSERT_NE(line, nullptr);
    ASSERT_TRUE(testsupport::waitFor([&] { return QApplication::focusWidget() == line; }));
    for (const char c : {'A', 'd', 'a'}) QTest::keyClick(shown.keys(), c);
    QTest::keyClick(shown.keys(), Qt::Key_A, Qt::ControlModifier); // the field's own: all its words
    EXPECT_EQ(line->selectedText(), QStringLiteral("Ada"));
    EXPECT_EQ(shown.window->findChild<ExportSheet*>(), nullptr);
    QTest::keyClick(shown.keys(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_TRUE(testsupport::waitFor([&] {
        const auto* sheet = shown.window->findChild<ExportSheet*>();
        return sheet && sheet->isVisible();
    }));
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("Ada")));
}

// A form filled by keyboard alone, keys sent to the window: Tab reaches
// every field in reading order and a reader hears each one's name, role and
// state; Space ticks a box and chooses a radio button, the arrows go round
// the group and through the options, Ctrl+Z undoes a tick. Tab goes on from
// the field typed in after a click on a button that takes no focus, and
// Shift+Tab from the control after the page comes back to the last field.
TEST(ScreenReader, AFormIsFilledByKeyboardAlone)
{
    Shown shown("libreoffice-form.pdf");
    const ReaderListening reader;
    FormEditor& editor = *FormWatcher::of(shown.window->screen()->model()).editor();
    ASSERT_TRUE(
        testsupport::waitFor([&] { return FormWatcher::of(shown.window->screen()->model()).fieldCount() > 0; }));
    shown.view().setFocus(Qt::OtherFocusReason);
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        return [&shown, key, modifiers] { QTest::keyClick(shown.keys(), key, modifiers); };
    };
    const auto clickZoomIn = [&] {
        for (QAbstractButton* button : shown.window->findChildren<QAbstractButton*>())
            if (button->isVisible() && button->accessibleName().startsWith(QStringLiteral("Zoom in")))
                QTest::mouseClick(button, Qt::LeftButton);
    };
    // What a reader hears of the focus: its name, its role, and its state or value.
    const auto heard = [] {
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(QApplication::focusWidget());
        if (!node) return QString();
        const QString state = node->state().checkable ? (node->state().checked ? "checked" : "not checked")
                                                      : node->text(QAccessible::Value);
        return QStringLiteral("%1; %2; %3").arg(node->text(QAccessible::Name)).arg(node->role()).arg(state);
    };
    const QString radio = QString::number(QAccessible::RadioButton), box = QString::number(QAccessible::CheckBox),
                  choice = QString::number(QAccessible::ComboBox), line = QString::number(QAccessible::EditableText);
    const struct {
        std::function<void()> act;
        const char* field; // the field the keys are on after it
        QString heard;
    } rows[] = {
        {press(Qt::Key_Tab), "First Name", "First Name; " + line + "; Alice"},
        {press(Qt::Key_Tab), "Last Name", "Last Name; " + line + "; "},
        {clickZoomIn, "Last Name", "Last Name; " + line + "; "},
        {press(Qt::Key_Tab), "Birthday", "Birthday; " + line + "; "},
        // Each button by the option it stands for (this file names them 1 and 2).
        {press(Qt::Key_Tab), "female", "female, 1, 1 of 2; " + radio + "; not checked"},
        {press(Qt::Key_Space), "female", "female, 1, 1 of 2; " + radio + "; checked"},
        {press(Qt::Key_Right), "female", "female, 2, 2 of 2; " + radio + "; checked"},
        {press(Qt::Key_L), "female", "female, 2, 2 of 2; " + radio + "; checked"}, // a letter picks no tool
        {press(Qt::Key_Tab), "Nationality", "Nationality; " + choice + "; "},
        {press(Qt::Key_Down), "Nationality", "Nationality, Unknown; " + choice + "; Unknown"},
        {press(Qt::Key_Down), "Nationality", "Nationality, German; " + choice + "; German"},
        {press(Qt::Key_Tab), "gdpr", "gdpr; " + box + "; not checked"},
        {press(Qt::Key_Space), "gdpr", "gdpr; " + box + "; checked"},
        {press(Qt::Key_Tab), "other", "other; " + box + "; not checked"},
        {press(Qt::Key_Space), "other", "other; " + box + "; checked"},
        {press(Qt::Key_Z, Qt::ControlModifier), "other", "other; " + box + "; not checked"},
        {press(Qt::Key_Tab), "First Name_2", "First Name_2; " + line + "; Bob"},
        {press(Qt::Key_Tab), "", ""},
        {press(Qt::Key_Backtab, Qt::ShiftModifier), "First Name_2", "First Name_2; " + line + "; Bob"},
    };
    for (const auto& row : rows) {
        row.act();
        EXPECT_TRUE(testsupport::waitFor(
            [&] {
                const auto field = editor.focusedField();
                return (field ? field->name : std::string()) == row.field && (!*row.field || heard() == row.heard);
            },
            10000))
            << row.field << ": " << heard().toStdString();
    }
    EXPECT_EQ(MarkupModel::of(shown.window->screen()->model()).tool(), quarnkit::MarkupTool::select);
    // What the keys did is the document's.
    const auto document = shown.window->screen()->model().document();
    std::map<std::string, std::string> values;
    for (const auto& widget : platform::PdfForms::widgets(*quarnkit::pdfOf(*document)))
        if (widget.kind != platform::PdfWidgetKind::text)
            values[widget.name] += widget.value.value_or("-") + std::to_string(widget.state);
    EXPECT_EQ(values, (std::map<std::string, std::string>{
                          {"female", "2021"}, {"Nationality", "German0"}, {"gdpr", "Yes1"}, {"other", "Off0"}}));
}

// Every menu of the window reaches a reader as a menu while it is open:
// listed among the application's windows, with an item focused, the chosen
// one where there is one, when the keys opened it: its button pressed by
// them, or the menu key or Shift+F10 on the pages. A right-click opens one
// with none, so that Return runs nothing the user did not point at. Escape
// gives the keys back to what opened it. (The rows of the library panels,
// the thumbnails, the marks list, the recent cards and a form's choice
// lists have theirs in their own windows' tests.)
TEST(ScreenReader, AnOpenMenuIsListedWithItsItemFocused)
{
    Shown shown("pdflatex-4-pages.pdf");
    const ReaderListening reader;
    const auto press = [&](const char* start) {
        return [&shown, start] {
            for (QAbstractButton* button : shown.window->findChildren<QAbstractButton*>())
                if (button->isVisible() && button->accessibleName().startsWith(QString::fromUtf8(start)))
                    return pressByKeys(shown.keys(), button);
            ADD_FAILURE() << "no button " << start;
        };
    };
    // The menu key or a right-click on the pages, as the window system reports them.
    const auto asked = [&](QContextMenuEvent::Reason reason) {
        return [&shown, reason] {
            QWidget* to = reason == QContextMenuEvent::Mouse ? shown.view().viewport() : &shown.view();
            QContextMenuEvent event(reason, to->rect().center(), to->mapToGlobal(to->rect().center()));
            QApplication::sendEvent(to, &event);
        };
    };
    const struct {
        const char* menu;
        std::function<void()> open;
        const char* focused; // the item focused as the menu opens ("": any one); none: no item
    } rows[] = {
        {"Zoom presets", press("Zoom presets"), ""},
        {"View", press("View:"), "Continuous"},
        {"Share", press("Share"), "Email…"},
        {"Page", asked(QContextMenuEvent::Keyboard), "Copy Page"},
        {"Page by Shift+F10", [&] { QTest::keyClick(shown.keys(), Qt::Key_F10, Qt::ShiftModifier); }, "Copy Page"},
        {"Page by a right-click", asked(QContextMenuEvent::Mouse), nullptr},
    };
    // Every object a reader is told is focused, in every window.
    const std::function<QStringList(QAccessibleInterface*)> focusedAnywhere = [&](QAccessibleInterface* node) {
        QStringList found;
        if (node->state().focused) found << node->text(QAccessible::Name);
        for (int i = 0; i < node->childCount(); ++i)
            if (QAccessibleInterface* child = node->child(i)) found << focusedAnywhere(child);
        return found;
    };
    for (const auto& row : rows) {
        shown.view().setFocus(Qt::OtherFocusReason);
        row.open();
        QMenu* menu = nullptr;
        ASSERT_TRUE(testsupport::waitFor([&] {
            return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget()));
        })) << row.menu;
        // The window's focus stays on what opened the menu, which has the keys back after it.
        QWidget* opener = shown.window->focusWidget();
        const QStringList focused = accessibletest::focusedMenuItems(menu);
        ASSERT_EQ(focused.size(), row.focused ? 1 : 0) << row.menu << ": " << focused.join(", ").toStdString();
        if (row.focused) {
            EXPECT_TRUE(focused.front().startsWith(QString::fromUtf8(row.focused)))
                << row.menu << ": " << focused.front().toStdString();
        }
        // That item alone, not the opener too; the menu named by its opener.
        EXPECT_EQ(focusedAnywhere(QAccessible::queryAccessibleInterface(qApp)), focused) << row.menu;
        EXPECT_EQ(accessibletest::applicationWindow(menu)->text(QAccessible::Name),
                  QAccessible::queryAccessibleInterface(opener)->text(QAccessible::Name))
            << row.menu;
        EXPECT_FALSE(accessibletest::applicationWindow(menu)->text(QAccessible::Name).isEmpty()) << row.menu;
        // Down moves the focus with the item the keys are on, still the one object focused.
        QTest::keyClick(shown.keys(), Qt::Key_Down);
        ASSERT_NE(menu->activeAction(), nullptr) << row.menu;
        const QStringList next = {menu->activeAction()->text().remove(QLatin1Char('&'))};
        EXPECT_EQ(accessibletest::focusedMenuItems(menu), next) << row.menu;
        EXPECT_EQ(focusedAnywhere(QAccessible::queryAccessibleInterface(qApp)), next) << row.menu;
        QTest::keyClick(shown.keys(), Qt::Key_Escape);
        ASSERT_TRUE(testsupport::waitFor([&] { return !QApplication::activePopupWidget(); }));
        // Offscreen, a closed popup may leave no window active, as no window system would.
        shown.window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(shown.window));
        QCoreApplication::processEvents(); // what the closing hands on, the window's own rules
        EXPECT_EQ(QApplication::focusWidget(), opener) << row.menu;
    }
    // A menu of the menu bar, opened by its key: named by its title, and its
    // item the one object focused, neither the page nor the bar's item.
    shown.view().setFocus(Qt::OtherFocusReason);
    QTest::keyClick(shown.keys(), Qt::Key_F, Qt::AltModifier);
    QMenu* file = nullptr;
    ASSERT_TRUE(testsupport::waitFor([&] { return (file = qobject_cast<QMenu*>(QApplication::activePopupWidget())); }));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(file)->text(QAccessible::Name), QStringLiteral("File"));
    EXPECT_TRUE(testsupport::waitFor([&] {
        return file->activeAction()
               && focusedAnywhere(QAccessible::queryAccessibleInterface(qApp))
                      == QStringList{file->activeAction()->text().remove(QLatin1Char('&'))};
    })) << focusedAnywhere(QAccessible::queryAccessibleInterface(qApp)).join(", ").toStdString();
    QTest::keyClick(shown.keys(), Qt::Key_Escape);
}

// What a text field keeps of the keys held with Ctrl, and what it leaves to
// the window's shortcuts, whatever keys the platform's scheme gives it.
TEST(ScreenReader, AFieldKeepsTheKeysItEditsWith)
{
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        bool field;
    } rows[] = {
        {Qt::Key_A, {}, true},
        {Qt::Key_A, Qt::ShiftModifier, true},
        {Qt::Key_End, {}, true},
        {Qt::Key_Left, Qt::ControlModifier, true},
        {Qt::Key_Backspace, Qt::ControlModifier, true},
        {Qt::Key_C, Qt::ControlModifier, true},
        {Qt::Key_V, Qt::ControlModifier, true},
        {Qt::Key_Z, Qt::ControlModifier, true},
        {Qt::Key_A, Qt::ControlModifier, true},
        {Qt::Key_E, Qt::ControlModifier, false}, // Export, though X11's scheme takes it for End
        {Qt::Key_P, Qt::ControlModifier, false},
        {Qt::Key_F, Qt::ControlModifier, false},
        {Qt::Key_2, Qt::ControlModifier, false},
    };
    for (const auto& row : rows) {
        const QKeyEvent event(QEvent::ShortcutOverride, row.key, row.modifiers);
        EXPECT_EQ(WindowEvents::fieldUsesKey(&event), row.field)
            << QKeySequence(row.key | row.modifiers).toString().toStdString();
    }
}
