// The form watcher over a real page view: the field count, Tab and Shift-Tab
// in reading order, and one note on the document per burst of changes.
#include "Quarn/Forms/FormWatcherHarness.h"
#include "Quarn/Markup/MarkupModel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QSignalSpy>
#include <QTest>

using namespace quarn;
using quarn::testing::FormWindow;
using quarnkit::MarkupTool;

namespace {

// One page carrying a text field widget; the catalog declares it in
// /AcroForm /Fields only when `declared`.
QByteArray onePageWithWidget(bool declared)
{
    return quarn::testing::formPdf("4 0 R",
                                   {"<< /Type /Annot /Subtype /Widget /FT /Tx /T (loose) /Rect [72 700 272 720] /P 3 0 "
                                    "R /DA (/Helv 12 Tf 0 g) >>"},
                                   declared ? "<< /Fields [4 0 R] /DA (/Helv 12 Tf 0 g) >>" : "");
}

std::unique_ptr<quarnkit::QuarnDocument> fromBytes(const QByteArray& bytes)
{
    return quarnkit::QuarnDocument::fromData(bytes);
}

} // namespace

// ---------------------------------------------------------------- scanning

TEST(FormWatcherTest, PublishesTheNumberOfFillableFields)
{
    {
        FormWindow w("pdflatex-forms.pdf");
        // The text field and the check box; the push button is no field.
        EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 2);
        ASSERT_EQ(w.forms().fields().size(), 2u);
        EXPECT_EQ(w.forms().fields()[0].name, "Name");
        EXPECT_EQ(w.forms().fields()[1].name, "Check");
    }
    {
        FormWindow w("libreoffice-form.pdf");
        EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 9);
    }
    {
        FormWindow w(fromBytes(testsupport::makeTextPdf(2)));
        EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 0);
        EXPECT_TRUE(w.forms().fields().empty());
    }
    {
        // Widgets on the page but none declared by the catalog: no fields.
        FormWindow w(fromBytes(onePageWithWidget(false)));
        EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 0);
    }
    {
        FormWindow w(fromBytes(onePageWithWidget(true)));
        EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 1);
    }
}

TEST(FormWatcherTest, CountIsWrittenOnlyWhenItChanges)
{
    FormWindow w("pdflatex-forms.pdf");
    QSignalSpy counts(&FormWatcher::of(*w.model), &FormWatcher::fieldCountChanged);
    w.forms().scan();
    w.forms().start(w.model, w.document.get());
    w.document->noteEdit(std::nullopt); // the banner rescans on every edit
    QApplication::processEvents();
    EXPECT_EQ(counts.count(), 0);
    EXPECT_EQ(FormWatcher::of(*w.model).fieldCount(), 2);
}

// ---------------------------------------------------------------- Tab and Shift-Tab

TEST(FormWatcherTest, TabAndShiftTabOnTheLatexForm)
{
    FormWindow w("pdflatex-forms.pdf");
    ASSERT_TRUE(w.view()->hasFocus());

    // From the page, Tab starts in the text field, goes on to the check box,
    // then leaves the fields with what was typed kept.
    w.key(Qt::Key_Tab);
    EXPECT_EQ(w.editing(), "Name");
    ASSERT_TRUE(w.editor().editorWidget());
    EXPECT_TRUE(w.editor().editorWidget()->hasFocus());
    w.type(QStringLiteral("Ada"));
    w.key(Qt::Key_Tab);
    EXPECT_EQ(w.focused(), "Check");
    ASSERT_TRUE(w.editor().control());
    EXPECT_TRUE(w.editor().control()->hasFocus());
    EXPECT_EQ(w.read("Name").value, "Ada");
    w.key(Qt::Key_Tab);
    EXPECT_EQ(w.focused(), "");
    EXPECT_FALSE(w.view()->hasFocus());

    // Shift+Tab from nowhere starts at the last field; before the first it
    // comes to the page itself, and from there leaves it.
    w.view()->setFocus(Qt::OtherFocusReason);
    std::vector<std::string> backwards;
    for (int i = 0; i < 3; ++i) {
        w.key(Qt::Key_Backtab, Qt::ShiftModifier);
        backwards.push_back(w.focused());
    }
    EXPECT_EQ(backwards, (std::vector<std::string>{"Check", "Name", ""}));
    EXPECT_TRUE(w.view()->hasFocus());
    w.key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_FALSE(w.view()->hasFocus());

    // A click on the check box makes it the active field; Tab and Shift-Tab from there both reach the text field.
    w.click("Check");
    EXPECT_EQ(w.nameOf(w.forms().active()), "Check");
    w.key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(w.editing(), "Name");
    w.click("Check");
    w.key(Qt::Key_Tab);
    EXPECT_EQ(w.editing(), "Name");
}

TEST(FormWatcherTest, TabAndShiftTabFollowReadingOrder)
{
    FormWindow w("libreoffice-form.pdf");
    // Top to bottom, left to right, every field (a radio group once), then
    // out of the fields to the window's other controls, or backwards to the
    // page: the fields are no ring of their own.
    std::vector<std::string> order = {"First Name",  "Last Name", "Birthday", "female",
                                      "Nationality", "gdpr",      "other",    "First Name_2"};
    std::vector<std::string> forwards, backwards;
    for (size_t i = 0; i <= order.size(); ++i) {
        w.key(Qt::Key_Tab);
        forwards.push_back(w.focused());
    }
    EXPECT_FALSE(w.view()->hasFocus());
    w.view()->setFocus(Qt::OtherFocusReason);
    for (size_t i = 0; i <= order.size(); ++i) {
        w.key(Qt::Key_Backtab, Qt::ShiftModifier);
        backwards.push_back(w.focused());
    }
    EXPECT_TRUE(w.view()->hasFocus());
    order.push_back("");
    EXPECT_EQ(forwards, order);
    std::reverse(order.begin(), order.end() - 1);
    EXPECT_EQ(backwards, order);

    // Typing moves on with the text written into the field left behind.
    w.view()->setFocus(Qt::OtherFocusReason);
    w.key(Qt::Key_Tab);
    w.type(QStringLiteral("Grace"));
    w.key(Qt::Key_Tab);
    EXPECT_EQ(w.editing(), "Last Name");
    EXPECT_EQ(w.read("First Name").value, "Grace");
}

TEST(FormWatcherTest, ShiftTabFromNowhereStartsAtTheLastField)
{
    FormWindow w("libreoffice-form.pdf");
    w.key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(w.editing(), "First Name_2");
}

TEST(FormWatcherTest, TabPassesThroughWhenItIsNotForTheFields)
{
    FormWindow w("libreoffice-form.pdf");

    // With Control held.
    w.key(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_FALSE(w.editor().editingField());

    // With another tool than Select.
    MarkupModel::of(*w.model).setTool(MarkupTool::pen);
    QApplication::processEvents();
    w.view()->setFocus(Qt::OtherFocusReason);
    w.key(Qt::Key_Tab);
    EXPECT_FALSE(w.editor().editingField());
    MarkupModel::of(*w.model).setTool(MarkupTool::select);
    QApplication::processEvents();

    // With the focus in a control outside the page view.
    w.other->setFocus(Qt::OtherFocusReason);
    QApplication::processEvents();
    w.key(Qt::Key_Tab);
    EXPECT_FALSE(w.editor().editingField());

    // And in a document without fields.
    FormWindow plain(fromBytes(testsupport::makeTextPdf(2)));
    plain.key(Qt::Key_Tab);
    EXPECT_FALSE(plain.editor().editingField());
}

TEST(FormWatcherTest, TheKeysClicksAndCommandsOfOneWindowLeaveTheOtherAlone)
{
    // Two windows of one form, one over the other.
    FormWindow a("libreoffice-form.pdf"), b("libreoffice-form.pdf");
    std::optional<std::string> seenBySave;
    QAction save(QStringLiteral("Save"), &a.window);
    save.setShortcut(QKeySequence::Save);
    a.window.addAction(&save);
    QObject::connect(&save, &QAction::triggered, [&] { seenBySave = a.read("Last Name").value; });
    for (FormWindow* w : {&b, &a}) {
        QApplication::setActiveWindow(&w->window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w->window));
        w->click("Last Name");
        w->type(w == &a ? QStringLiteral("Ada") : QStringLiteral("Bob"));
    }
    const int otherSteps = b.stack->count();

    // Sent to the active window, as the keyboard does: its command sees its typing, its click and Tab move on there.
    QTest::keyClick(a.window.windowHandle(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(seenBySave, "Ada");
    a.click("gdpr");
    EXPECT_EQ(a.nameOf(a.forms().active()), "gdpr");
    QTest::keyClick(a.window.windowHandle(), Qt::Key_Tab);
    QApplication::processEvents();
    EXPECT_EQ(a.focused(), "other");

    // The other window types on in its field, and nothing more of it is written.
    EXPECT_EQ(b.nameOf(b.forms().active()), "Last Name");
    EXPECT_EQ(b.editing(), "Last Name");
    EXPECT_EQ(b.stack->count(), otherSteps);
}

// ---------------------------------------------------------------- notes on the document

TEST(FormWatcherTest, EachRecordedChangeIsNotedOnceAtOnce)
{
    FormWindow w("libreoffice-form.pdf");
    QSignalSpy notes(w.document.get(), &quarnkit::QuarnDocument::generationChanged);
    ASSERT_TRUE(w.editor().setText(w.field("Last Name"), QStringLiteral("Hopper")));
    w.click("gdpr");
    EXPECT_EQ(notes.count(), 2);
    EXPECT_EQ(w.document->editedPageIndex(), 0);

    // Undo is a change of its own.
    w.key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(notes.count(), 3);
    EXPECT_EQ(w.document->editedPageIndex(), 0);
    EXPECT_EQ(w.read("gdpr").state, 0);
}

TEST(FormWatcherTest, ValuesAreReadOnAWorkerWhileTheWindowAnswers)
{
    FormWindow w("libreoffice-form.pdf");
    // The worker that reads the values waits until released.
    testsupport::WorkerGate gate;
    w.forms().workerHook = gate.hook();
    // An edit asks for the values again.
    ASSERT_TRUE(w.editor().setText(w.field("Last Name"), QStringLiteral("Hopper")));
    ASSERT_TRUE(gate.waitUntilReached());
    EXPECT_NE(w.field("Last Name").value, "Hopper");
    // The window answers meanwhile: Tab starts typing in the first field.
    w.key(Qt::Key_Tab);
    EXPECT_EQ(w.editing(), "First Name");
    w.forms().workerHook = nullptr;
    gate.release();
    EXPECT_TRUE(testsupport::waitFor([&] { return w.field("Last Name").value == "Hopper"; }));
}

TEST(FormWatcherTest, FocusFirstEmptyFieldSkipsFilledFields)
{
    FormWindow w("libreoffice-form.pdf");
    // "First Name" holds "Alice" in the sample.
    w.forms().focusFirstEmptyField();
    // Once a worker has read the values.
    ASSERT_TRUE(testsupport::waitFor([&] { return w.editing() == "Last Name"; })) << w.editing();
    EXPECT_TRUE(w.editor().editorWidget()->hasFocus());

    // With every text field filled, the first text field.
    for (const char* name : {"Last Name", "Birthday", "First Name_2"})
        ASSERT_TRUE(w.editor().setText(w.field(name), QStringLiteral("x")));
    w.forms().focusFirstEmptyField();
    EXPECT_TRUE(testsupport::waitFor([&] { return w.editing() == "First Name"; })) << w.editing();
}
