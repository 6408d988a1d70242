// Filling fields in the page view: typing, ticking, choosing; each change one
// undo step that Ctrl+Z takes back; the values survive saving and reopening.
#include "Quarn/Design/UnnamedControls.h"
#include "Quarn/Forms/FieldControl.h"
#include "Quarn/Forms/FormWatcherHarness.h"
#include "Quarn/Markup/MarkupModel.h"
#include "QuarnKit/Document/DocumentEngine.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCompleter>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRegularExpression>

using namespace quarn;
using platform::PdfDocument;
using quarn::testing::FormWindow;

namespace {

// The open editor as a line.
QLineEdit* line(const FormWindow& w) { return qobject_cast<QLineEdit*>(w.editor().editorWidget()); }

} // namespace

// ---------------------------------------------------------------- saving and undo

TEST(FormEditorTest, FilledTextAndTickedBoxSurviveSaveAndReopenAndUndo)
{
    FormWindow w("pdflatex-forms.pdf");
    ASSERT_TRUE(w.stack);

    // Typing into the text field, ended by Return.
    w.click("Name");
    ASSERT_TRUE(line(w));
    EXPECT_EQ(w.editing(), "Name");
    w.type(QStringLiteral("Ada Lovelace"));
    w.key(Qt::Key_Return);
    EXPECT_FALSE(w.editor().editingField());
    EXPECT_TRUE(w.view()->hasFocus());
    ASSERT_EQ(w.stack->count(), 1);
    EXPECT_EQ(w.stack->undoText(), FormEditor::typingName());

    // Ticking the box with a click.
    w.click("Check");
    ASSERT_EQ(w.stack->count(), 2);
    EXPECT_EQ(w.stack->undoText(), FormEditor::checkName());
    EXPECT_FALSE(w.stack->isClean()); // the window shows itself modified

    // Saved and read back with the PDF layer.
    {
        const auto saved = w.saveAndReopen();
        EXPECT_EQ(FormWindow::read(*saved, "Name").value, "Ada Lovelace");
        EXPECT_EQ(FormWindow::read(*saved, "Check").state, 1);
        EXPECT_EQ(FormWindow::read(*saved, "Check").value, "Yes");
    }

    // Ctrl+Z takes back the tick, then the typing, one step each.
    w.view()->setFocus(Qt::OtherFocusReason);
    w.key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.read("Check").state, 0);
    EXPECT_EQ(w.read("Name").value, "Ada Lovelace");
    w.key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.read("Name").value.value_or(""), "");
    EXPECT_TRUE(w.stack->isClean());
    {
        const auto saved = w.saveAndReopen();
        EXPECT_EQ(FormWindow::read(*saved, "Name").value.value_or(""), "");
        EXPECT_EQ(FormWindow::read(*saved, "Check").state, 0);
    }

    // And redo puts both back.
    w.key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    w.key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.read("Name").value, "Ada Lovelace");
    EXPECT_EQ(w.read("Check").state, 1);
}

TEST(FormEditorTest, ASecondClickUnticksTheBox)
{
    FormWindow w("pdflatex-forms.pdf");
    w.click("Check");
    EXPECT_EQ(w.read("Check").state, 1);
    // Quickly again: a double click is two clicks on a box.
    QTest::mouseDClick(w.view()->viewport(), Qt::LeftButton, Qt::NoModifier, w.centreOf(w.field("Check")));
    QApplication::processEvents();
    EXPECT_EQ(w.read("Check").state, 0);
    EXPECT_EQ(w.stack->undoText(), FormEditor::uncheckName());
}

// ---------------------------------------------------------------- typing

TEST(FormEditorTest, TheEditorSitsOnItsFieldAndFollowsTheZoom)
{
    FormWindow w("pdflatex-forms.pdf");
    w.click("Name");
    QWidget* box = w.editor().editorWidget();
    ASSERT_TRUE(box);
    const auto field = w.field("Name");
    EXPECT_EQ(box->geometry(), w.view()->placement().convertFromPage(field.rect, field.page).toAlignedRect());
    const int width = box->width();
    w.view()->setScaleFactor(w.view()->scaleFactor() * 1.5);
    QApplication::processEvents();
    EXPECT_EQ(box->geometry(), w.view()->placement().convertFromPage(field.rect, field.page).toAlignedRect());
    EXPECT_GT(box->width(), width);
}

TEST(FormEditorTest, EscapeDropsTheTyping)
{
    FormWindow w("libreoffice-form.pdf");
    w.click("First Name");
    ASSERT_TRUE(line(w));
    EXPECT_EQ(line(w)->text(), QStringLiteral("Alice")); // the field's value to edit
    w.type(QStringLiteral(" Smith"));
    w.key(Qt::Key_Escape);
    EXPECT_FALSE(w.editor().editingField());
    EXPECT_EQ(w.read("First Name").value, "Alice");
    EXPECT_EQ(w.stack->count(), 0);
}

TEST(FormEditorTest, AClickElsewhereEndsTheTyping)
{
    FormWindow w("libreoffice-form.pdf");
    w.click("Last Name");
    w.type(QStringLiteral("Hopper"));
    // On the page, away from every field.
    QTest::mouseClick(w.view()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      w.view()->placement().convertFromPage(platform::PdfPoint{20, 20}, 0).toPoint());
    QApplication::processEvents();
    EXPECT_FALSE(w.editor().editingField());
    EXPECT_EQ(w.read("Last Name").value, "Hopper");
    ASSERT_EQ(w.stack->count(), 1);

    // Opening the editor and leaving the text as it was makes no step.
    w.click("Last Name");
    w.key(Qt::Key_Return);
    EXPECT_EQ(w.stack->count(), 1);
}

// ---------------------------------------------------------------- buttons and choices

TEST(FormEditorTest, RadioButtonsTurnEachOtherOffAndUndoTurnsThemBack)
{
    FormWindow w("libreoffice-form.pdf");
    std::vector<platform::PdfWidget> radios;
    for (const auto& field : w.forms().fields())
        if (field.name == "female") radios.push_back(field);
    ASSERT_EQ(radios.size(), 2u);
    const auto stateOf = [&](int i) {
        return platform::PdfForms::widget(*pdfOf(*w.document), radios[size_t(i)].page, radios[size_t(i)].objectNumber)
            ->state;
    };

    w.click(radios[0]);
    EXPECT_EQ(stateOf(0), 1);
    w.click(radios[1]);
    EXPECT_EQ(stateOf(0), 0);
    EXPECT_EQ(stateOf(1), 1);
    ASSERT_EQ(w.stack->count(), 2);

    w.key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(stateOf(0), 1);
    EXPECT_EQ(stateOf(1), 0);
}

TEST(FormEditorTest, AChoiceFieldOffersItsOptionsInAList)
{
    FormWindow w("libreoffice-form.pdf");
    const auto nationality = w.field("Nationality");
    ASSERT_GE(nationality.options.size(), 2u);
    const size_t last = nationality.options.size() - 1;
    const auto choose = [&](size_t index) {
        w.click("Nationality");
        QMenu* menu = w.editor().choiceMenu();
        ASSERT_TRUE(menu);
        EXPECT_TRUE(menu->isVisible());
        ASSERT_EQ(menu->actions().size(), qsizetype(nationality.options.size()));
        QAction* action = menu->actions()[qsizetype(index)];
        EXPECT_EQ(action->text().toStdString(), nationality.options[index]);
        action->trigger();
        menu->close();
        QApplication::processEvents();
    };

    choose(last - 1);
    choose(last);
    EXPECT_EQ(w.read("Nationality").value, nationality.exportValues[last]);
    ASSERT_EQ(w.stack->count(), 2);
    EXPECT_EQ(w.stack->undoText(), FormEditor::chooseName());
    {
        const auto saved = w.saveAndReopen();
        EXPECT_EQ(FormWindow::read(*saved, "Nationality").value, nationality.exportValues[last]);
    }

    // Ctrl+Z goes back to the option chosen before.
    w.view()->setFocus(Qt::OtherFocusReason);
    w.key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.read("Nationality").value, nationality.exportValues[last - 1]);

    // The list marks the current value, and closing it without a choice changes nothing.
    w.click("Nationality");
    QMenu* menu = w.editor().choiceMenu();
    ASSERT_TRUE(menu);
    std::vector<int> checked;
    for (int i = 0; i < menu->actions().size(); ++i)
        if (menu->actions()[i]->isChecked()) checked.push_back(i);
    EXPECT_EQ(checked, std::vector<int>{int(last - 1)});
    // A reader starts at the value too.
    EXPECT_EQ(accessibletest::focusedMenuItems(menu),
              QStringList{QString::fromStdString(nationality.options[last - 1])});
    menu->close();
    QApplication::processEvents();
    EXPECT_EQ(w.stack->index(), 1);

    // Undoing the first choice leaves the field as it came: with no value at all.
    const auto original = nationality.value;
    w.view()->setFocus(Qt::OtherFocusReason);
    w.key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.stack->index(), 0);
    EXPECT_EQ(w.read("Nationality").value.value_or(""), original.value_or(""));
}

TEST(FormEditorTest, FieldsAreLeftAloneByOtherTools)
{
    FormWindow w("pdflatex-forms.pdf");
    MarkupModel::of(*w.model).setTool(quarnkit::MarkupTool::pen);
    QApplication::processEvents();
    ASSERT_EQ(w.view()->tool(), quarnkit::MarkupTool::pen);
    w.click("Check");
    w.click("Name");
    EXPECT_EQ(w.read("Check").state, 0);
    EXPECT_FALSE(w.editor().editingField());
    // The pen draws its dots over the fields; no step touches a field.
    for (int i = 0; i < w.stack->count(); ++i) EXPECT_EQ(w.stack->text(i), "Pen");
}

namespace {

// Dark pixels inside a field as the document draws its page now.
int darkPixelsIn(const PdfDocument& pdf, const platform::PdfWidget& field)
{
    const QImage image = pdf.render(field.page, 2.0).convertToFormat(QImage::Format_RGB888);
    const platform::PdfRect shown = pdf.pageGeometry(field.page).userToDisplay.mapRect(field.rect);
    int dark = 0;
    for (int y = int(shown.y * 2) + 3; y < int(shown.maxY() * 2) - 3; ++y)
        for (int x = int(shown.x * 2) + 3; x < int(shown.maxX() * 2) - 3; ++x) {
            const QRgb c = image.pixel(x, y);
            if (qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100) ++dark;
        }
    return dark;
}

} // namespace

TEST(FormEditorTest, ThePageShowsTheTickAndTheTypedTextAtOnce)
{
    FormWindow w("pdflatex-forms.pdf");
    // The box first, on the document as opened: its states are stored undrawn.
    const auto check = w.field("Check");
    EXPECT_EQ(darkPixelsIn(*pdfOf(*w.document), check), 0);
    w.click("Check");
    ASSERT_EQ(w.read("Check").state, 1);
    EXPECT_GT(darkPixelsIn(*pdfOf(*w.document), check), 20);
    EXPECT_GT(darkPixelsIn(*w.saveAndReopen(), check), 20);

    const auto name = w.field("Name");
    EXPECT_EQ(darkPixelsIn(*pdfOf(*w.document), name), 0);
    w.click("Name");
    w.type(QStringLiteral("Ada Lovelace"));
    w.key(Qt::Key_Return);
    // The field's own appearance carries the text, for this view and for other readers.
    EXPECT_GT(darkPixelsIn(*pdfOf(*w.document), name), 20);
    EXPECT_GT(darkPixelsIn(*w.saveAndReopen(), name), 20);
    EXPECT_GT(darkPixelsIn(*pdfOf(*w.document), check), 20);
}

namespace {

// Dark pixels, and those of a dark blue, inside a field of a page drawn at
// 72 dpi, 792 points tall.
std::pair<int, int> darkAndBlueIn(const QImage& drawn, const platform::PdfRect& field)
{
    const QImage image = drawn.convertToFormat(QImage::Format_RGB888);
    int dark = 0, blue = 0;
    for (int y = int(792 - field.maxY()); y < int(792 - field.y); ++y)
        for (int x = int(field.x); x < int(field.maxX()); ++x) {
            const QRgb c = image.pixel(x, y);
            dark += qRed(c) < 100 && qGreen(c) < 100 && qBlue(c) < 100;
            blue += qRed(c) < 30 && qGreen(c) < 30 && qBlue(c) > 60;
        }
    return {dark, blue};
}

} // namespace

TEST(FormEditorTest, BoxesTickedInTheWindowShowTheirTicksInOtherReaders)
{
    // A form asking readers to draw its fields: a box with no drawing, one
    // whose drawings have no box, one with only its on state drawn. The
    // form's own tick is a dark blue cross.
    const auto box = [](const char* name, int x, const std::string& drawings) {
        return "<< /Type /Annot /Subtype /Widget /FT /Btn /T (" + std::string(name) + ") /V /Off /AS /Off /Rect ["
               + std::to_string(x) + " 700 " + std::to_string(x + 20) + " 720] /F 4 /P 3 0 R /MK << /CA (4) >>"
               + " /DA (/ZaDb 0 Tf 0 g) " + drawings + " >>";
    };
    const std::string cross = "0 0 0.35 RG 3 w 3 3 m 17 17 l 3 17 m 17 3 l S";
    const std::string form = "/Type /XObject /Subtype /Form";
    QTemporaryDir dir;
    const QString path = testsupport::writeFile(
        dir, "form.pdf",
        quarn::testing::formPdf("4 0 R 5 0 R 6 0 R",
                                {box("plain", 100, ""), box("bare", 200, "/AP << /N << /Yes 7 0 R /Off 8 0 R >> >>"),
                                 box("own", 300, "/AP << /N << /Yes 9 0 R >> >>"), testsupport::pdfStream(form, cross),
                                 testsupport::pdfStream(form, "0 G 0.5 0.5 19 19 re S"),
                                 testsupport::pdfStream(form + " /BBox [0 0 20 20]", cross)},
                                "<< /Fields [4 0 R 5 0 R 6 0 R] /NeedAppearances true >>"));
    FormWindow w(quarnkit::QuarnDocument::open(path));
    for (const char* name : {"plain", "bare", "own"}) {
        w.click(name);
        EXPECT_EQ(w.read(name).state, 1) << name;
    }
    // The window shows the cross it ticked, and so does poppler once saved.
    EXPECT_GT(darkAndBlueIn(pdfOf(*w.document)->render(0, 1.0), w.field("bare").rect).second, 20);
    w.saveAndReopen();
    const QString saved = w.folder.filePath(QStringLiteral("saved.pdf"));
    testsupport::runProgram("pdftoppm", {"-r", "72", "-png", "-singlefile", saved, dir.filePath("poppler")});
    const QImage poppler(dir.filePath("poppler.png"));
    ASSERT_FALSE(poppler.isNull());
    EXPECT_GT(darkAndBlueIn(poppler, w.field("plain").rect).first, 20) << "a tick";
    for (const char* name : {"bare", "own"}) EXPECT_GT(darkAndBlueIn(poppler, w.field(name).rect).second, 20) << name;
}

TEST(FormEditorTest, ABoxTickedInASignedFormThatAsksReadersToDrawShowsItsTickInOtherReaders)
{
    // A signed form asking readers to draw its fields, its box naming its
    // fonts by a dictionary kept apart, as LibreOffice writes them: poppler's
    // own drawing of the box ticked shows no tick. Ticked in the window and
    // saved, the update draws it, and poppler shows the form's own tick.
    const std::string widget = "/Type /Annot /Subtype /Widget /F 4 /P 3 0 R";
    const std::string form = "/Type /XObject /Subtype /Form /BBox [0 0 20 20]";
    QTemporaryDir dir;
    const QByteArray original = testsupport::signPdf(
        quarn::testing::formPdf(
            "4 0 R 5 0 R",
            {"<< " + widget
                 + " /FT /Btn /T (agree) /V /Off /AS /Off /MK << /CA (4) >> /DA (/ZaDb 0 Tf 0 g) /DR << /Font 9 0 R >>"
                   " /Rect [100 700 120 720] /AP << /N << /Yes 6 0 R /Off 7 0 R >> >> >>",
             "<< " + widget + " /FT /Sig /T (signature) /V " + testsupport::unsignedSignature() + " /Rect [0 0 0 0] >>",
             testsupport::pdfStream(form, "0 0 0.35 RG 3 w 3 3 m 17 17 l 3 17 m 17 3 l S"),
             testsupport::pdfStream(form, ""),
             "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>", "<< /Helv 8 0 R >>"},
            "<< /Fields [4 0 R 5 0 R] /NeedAppearances true /SigFlags 3 /DA (/Helv 0 Tf 0 g)"
            " /DR << /Font << /Helv 8 0 R >> >> >>"),
        dir.path());
    if (original.isEmpty()) GTEST_SKIP() << "openssl could not sign";
    const QString path = testsupport::writeFile(dir, "signed.pdf", original);
    ASSERT_TRUE(testsupport::signaturesValid(path));
    FormWindow w(quarnkit::QuarnDocument::open(path));
    w.click("agree");
    EXPECT_EQ(w.read("agree").state, 1);
    w.saveAndReopen();
    const QString saved = w.folder.filePath(QStringLiteral("saved.pdf"));
    ASSERT_TRUE(testsupport::readFile(saved).startsWith(original));
    EXPECT_TRUE(testsupport::signaturesValid(saved));
    testsupport::runProgram("pdftoppm", {"-r", "72", "-png", "-singlefile", saved, dir.filePath("poppler")});
    const QImage poppler(dir.filePath("poppler.png"));
    ASSERT_FALSE(poppler.isNull());
    EXPECT_GT(darkAndBlueIn(poppler, w.field("agree").rect).second, 20) << "the form's own tick";
}

TEST(FormEditorTest, ASignedFormShowsItsFieldsAsOtherReadersAndAClickWritesOnlyItsField)
{
    // A signed form without /NeedAppearances: a pop-up and a list box the
    // file holds no drawing of, which other readers draw themselves (the
    // option's label; the list with the chosen option marked), and two boxes
    // whose pressed look is one drawing without a box.
    const std::string widget = "/Type /Annot /Subtype /Widget /F 4 /P 3 0 R";
    const std::string form = "/Type /XObject /Subtype /Form /BBox [0 0 20 20]";
    const auto box = [&](const char* name, int x) {
        return "<< " + widget + " /FT /Btn /T (" + name + ") /V /Off /AS /Off /MK << /CA (4) >> /DA (/ZaDb 0 Tf 0 g)"
               + " /Rect [" + std::to_string(x) + " 500 " + std::to_string(x + 20)
               + " 520] /AP << /N << /Yes 9 0 R /Off 10 0 R >> /D << /Yes 11 0 R /Off 11 0 R >> >> >>";
    };
    QTemporaryDir dir;
    const QByteArray original = testsupport::signPdf(
        quarn::testing::formPdf(
            "4 0 R 5 0 R 6 0 R 7 0 R 8 0 R",
            {"<< " + widget
                 + " /FT /Ch /Ff 131072 /T (fruit) /V (b) /Opt [[(a) (Apple)] [(b) (Banana)]]"
                   " /DA (/Helv 12 Tf 0 g) /Rect [72 700 272 720] >>",
             "<< " + widget
                 + " /FT /Ch /T (pick) /V (6) /Opt [(five) [(6) (six)] (seven)] /DA (/Helv 10 Tf 0 g)"
                   " /Rect [300 640 380 700] >>",
             box("agree", 100), box("later", 200),
             "<< " + widget + " /FT /Sig /T (signature) /V " + testsupport::unsignedSignature() + " /Rect [0 0 0 0] >>",
             testsupport::pdfStream(form, "0 0 0.35 rg 4 4 12 12 re f"), testsupport::pdfStream(form, ""),
             testsupport::pdfStream("/Type /XObject /Subtype /Form", "0 g 0 0 20 20 re f"),
             "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"},
            "<< /Fields [4 0 R 5 0 R 6 0 R 7 0 R 8 0 R] /SigFlags 3 /DA (/Helv 0 Tf 0 g)"
            " /DR << /Font << /Helv 12 0 R >> >> >>"),
        dir.path());
    if (original.isEmpty()) GTEST_SKIP() << "openssl could not sign";
    const QString path = testsupport::writeFile(dir, "signed.pdf", original);
    ASSERT_TRUE(testsupport::signaturesValid(path));
    FormWindow w(quarnkit::QuarnDocument::open(path));

    // The window shows the label and marks the option, as poppler does.
    const QString shown = QString::fromStdString(pdfOf(*w.document)->displayList(0)->textPage().text());
    EXPECT_TRUE(shown.contains("Banana")) << shown.toStdString();
    const QImage page = pdfOf(*w.document)->render(0, 1.0).convertToFormat(QImage::Format_RGB888);
    int bar = 0; // black pixels of the bar behind "six"
    for (int y = 92; y < 152; ++y)
        for (int x = 302; x < 378; ++x) bar += qGray(page.pixel(x, y)) < 30;
    EXPECT_GT(bar, 500);

    // A click ticks "later"; the saved file keeps its signature, and its
    // update writes nothing of the other fields nor of what they share.
    w.click("later");
    EXPECT_EQ(w.read("later").state, 1);
    w.saveAndReopen();
    const QString saved = w.folder.filePath(QStringLiteral("saved.pdf"));
    const QByteArray bytes = testsupport::readFile(saved);
    ASSERT_TRUE(bytes.startsWith(original));
    EXPECT_TRUE(testsupport::signaturesValid(saved));
    const QString update = QString::fromLatin1(bytes.mid(original.size()));
    for (const int object : {4, 5, 6, 8, 9, 10, 11, 12})
        EXPECT_FALSE(update.contains(QRegularExpression(QStringLiteral("(^|\\s)%1 0 obj").arg(object))))
            << "object " << object << " written anew";
    EXPECT_TRUE(update.contains(QRegularExpression(QStringLiteral("(^|\\s)7 0 obj")))) << "the box ticked";
}

// ---------------------------------------------------------------- typing that must not be lost

TEST(FormEditorTest, CommandsAndClosingSeeTheTextBeingTyped)
{
    FormWindow w("libreoffice-form.pdf");
    std::optional<std::string> seenBySave;
    QAction save(QStringLiteral("Save"), &w.window);
    save.setShortcut(QKeySequence::Save);
    w.window.addAction(&save);
    QObject::connect(&save, &QAction::triggered, [&] { seenBySave = w.read("Last Name").value; });

    w.click("Last Name");
    w.type(QStringLiteral("Hopper"));
    w.key(Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(seenBySave, "Hopper");
    EXPECT_EQ(w.editing(), "Last Name"); // typing goes on
    EXPECT_EQ(w.stack->count(), 1);

    // Closing the window ends the typing first, so the question about unsaved changes knows of it.
    w.type(QStringLiteral("!"));
    w.window.close();
    QApplication::processEvents();
    EXPECT_EQ(w.read("Last Name").value, "Hopper!");
    EXPECT_EQ(w.stack->count(), 2);
    EXPECT_FALSE(w.stack->isClean());
}

TEST(FormEditorTest, ARevertedDocumentDropsTheTyping)
{
    FormWindow w("libreoffice-form.pdf");
    w.click("Last Name");
    w.type(QStringLiteral("Hopper"));
    // Revert: the window shows a fresh copy of the file.
    auto fresh = quarnkit::QuarnDocument::open(QString::fromStdString(testsupport::corpusPath("libreoffice-form.pdf")));
    w.pageViewHost->setDocument(fresh.get());
    w.banner->setDocument(fresh.get());
    QApplication::processEvents();
    EXPECT_FALSE(w.editor().editingField());
    EXPECT_EQ(w.read("Last Name").value.value_or(""), "");
    EXPECT_EQ(FormWindow::read(*pdfOf(*fresh), "Last Name").value.value_or(""), "");
    EXPECT_EQ(w.stack->count(), 0);
    w.pageViewHost->setDocument(w.document.get()); // before `fresh` goes
    w.banner->setDocument(w.document.get());
}

// ---------------------------------------------------------------- other kinds of text fields

namespace {

// A multi-line text field (4), a combo box that takes typed text (5), a
// read-only text field (6) and a text field of at most 4 characters (7).
QByteArray kindsOfTextFields()
{
    const std::string da = " /DA (/Helv 12 Tf 0 g)";
    return quarn::testing::formPdf(
        "4 0 R 5 0 R 6 0 R 7 0 R",
        {
            "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 4096 /T (notes) /Rect [72 560 372 660] /P 3 0 R" + da + " >>",
            "<< /Type /Annot /Subtype /Widget /FT /Ch /Ff 393216 /T (city) /Opt [(Oslo) (Lima)] /Rect [72 500 272 520] "
            "/P 3 0 R"
                + da + " >>",
            "<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 1 /T (fixed) /V (kept) /Rect [72 450 272 470] /P 3 0 R" + da
                + " >>",
            "<< /Type /Annot /Subtype /Widget /FT /Tx /MaxLen 4 /T (code) /Rect [72 400 272 420] /P 3 0 R" + da + " >>",
        },
        "<< /Fields [4 0 R 5 0 R 6 0 R 7 0 R] /DA (/Helv 12 Tf 0 g) >>");
}

} // namespace

TEST(FormEditorTest, MultiLineFieldsComboBoxesAndLimits)
{
    FormWindow w(quarnkit::QuarnDocument::fromData(kindsOfTextFields()));
    ASSERT_EQ(FormWatcher::of(*w.model).fieldCount(), 4);

    // A multi-line field takes Return as a new line; Ctrl+Return ends the typing.
    w.click("notes");
    auto* lines = qobject_cast<QPlainTextEdit*>(w.editor().editorWidget());
    ASSERT_TRUE(lines);
    w.type(QStringLiteral("first"));
    w.key(Qt::Key_Return);
    w.type(QStringLiteral("second"));
    EXPECT_EQ(w.editing(), "notes");
    w.key(Qt::Key_Return, Qt::ControlModifier);
    EXPECT_FALSE(w.editor().editingField());
    const std::string notes = w.read("notes").value.value_or("");
    EXPECT_NE(notes.find("first"), std::string::npos);
    EXPECT_NE(notes.find("second"), std::string::npos);
    EXPECT_GT(notes.find("second"), notes.find("first") + 5); // on a line of its own

    // A combo box that takes typed text opens the editor, its options offered beside it.
    w.click("city");
    ASSERT_TRUE(line(w));
    ASSERT_TRUE(line(w)->completer());
    EXPECT_EQ(line(w)->completer()->model()->rowCount(), 2);
    line(w)->completer()->popup()->hide();
    w.type(QStringLiteral("Quito"));
    w.key(Qt::Key_Return);
    EXPECT_EQ(w.read("city").value, "Quito");
    EXPECT_EQ(w.stack->undoText(), FormEditor::chooseName());

    // A read-only field opens nothing.
    w.click("fixed");
    EXPECT_FALSE(w.editor().editingField());
    EXPECT_EQ(w.read("fixed").value, "kept");

    // A field's length limit holds in the editor.
    w.click("code");
    w.type(QStringLiteral("123456"));
    EXPECT_EQ(line(w)->text(), QStringLiteral("1234"));
    w.key(Qt::Key_Return);
    EXPECT_EQ(w.read("code").value, "1234");
    EXPECT_EQ(w.stack->count(), 3);

    // Saved and read back.
    const auto saved = w.saveAndReopen();
    EXPECT_EQ(FormWindow::read(*saved, "city").value, "Quito");
    EXPECT_EQ(FormWindow::read(*saved, "code").value, "1234");
}

// ---------------------------------------------------------------- passwords

TEST(FormEditorTest, APasswordIsMaskedWhileTypedOnThePageAndInTheSavedFile)
{
    // A password field that is also marked multi-line, in a form that asks
    // readers to draw its fields; its stored drawing shows the mask.
    const std::string da = " /DA (/Helv 12 Tf 0 g)";
    const QByteArray form = quarn::testing::formPdf(
        "4 0 R",
        {"<< /Type /Annot /Subtype /Widget /FT /Tx /Ff 12288 /T (secret) /V (Swordfish) /Rect [72 700 372 720] /F 4"
         " /P 3 0 R"
             + da + " /AP << /N 5 0 R >> >>",
         testsupport::pdfStream("/Type /XObject /Subtype /Form /BBox [0 0 300 20] /Resources << /Font << /Helv 6 0 R "
                                ">> >>",
                                "/Tx BMC q BT /Helv 12 Tf 0 g 2 6 Td (*********) Tj ET Q EMC"),
         "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"},
        "<< /Fields [4 0 R] /NeedAppearances true /DA (/Helv 0 Tf 0 g) /DR << /Font << /Helv 6 0 R >> >> >>");
    FormWindow w(quarnkit::QuarnDocument::fromData(form));

    // The editor shows a mask over the field, whatever it holds or is typed.
    w.click("secret");
    ASSERT_TRUE(line(w));
    EXPECT_EQ(line(w)->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(line(w)->displayText().contains(QStringLiteral("Swordfish")));
    w.key(Qt::Key_A, Qt::ControlModifier);
    w.type(QStringLiteral("Open sesame"));
    EXPECT_EQ(line(w)->displayText().size(), 11);
    EXPECT_FALSE(line(w)->displayText().contains(QStringLiteral("sesame")));
    w.key(Qt::Key_Return);
    ASSERT_EQ(w.read("secret").value, "Open sesame");

    // The page shows one asterisk a character, and so does poppler in the saved file.
    const std::string shown = pdfOf(*w.document)->displayList(0)->textPage().text();
    EXPECT_EQ(shown.find("sesame"), std::string::npos) << shown;
    EXPECT_NE(shown.find("***********"), std::string::npos) << shown;
    const auto saved = w.saveAndReopen();
    EXPECT_EQ(FormWindow::read(*saved, "secret").value, "Open sesame");
    const QString words = testsupport::runProgram(QStringLiteral("pdftotext"),
                                                  {QStringLiteral("-q"), w.folder.filePath("saved.pdf"), "-"});
    EXPECT_FALSE(words.contains(QStringLiteral("sesame"))) << words.toStdString();
    EXPECT_EQ(words.simplified(), QStringLiteral("***********"));
}

// ---------------------------------------------------------------- what a reader meets

// Each kind of field in the role a reader knows it by: a list box is a list
// of its options, the chosen one selected, and focused while the field has
// the keys; a pop-up choice is a combo box.
TEST(FormEditorTest, EachFieldReachesAReaderInItsRole)
{
    using Kind = platform::PdfWidgetKind;
    QWidget window;
    window.resize(200, 100);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const struct {
        Kind kind;
        bool comboBox;
        QAccessible::Role role;
        QStringList options; // the children, "*" before the selected one
    } rows[] = {
        {Kind::checkBox, false, QAccessible::CheckBox, {}},
        {Kind::radioButton, false, QAccessible::RadioButton, {}},
        {Kind::choice, true, QAccessible::ComboBox, {}},
        {Kind::choice, false, QAccessible::List, {"Red", "*Green"}},
    };
    for (const auto& row : rows) {
        platform::PdfWidget field;
        field.kind = row.kind;
        field.comboBox = row.comboBox;
        if (row.kind == Kind::choice) field.options = field.exportValues = {"Red", "Green"};
        field.value = "Green";
        FieldControl control(field, QStringLiteral("colour"), &window);
        control.show();
        control.setFocus(Qt::TabFocusReason);
        QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&control);
        EXPECT_EQ(node->role(), row.role);
        QStringList options;
        for (int i = 0; i < node->childCount(); ++i) {
            EXPECT_EQ(node->child(i)->role(), QAccessible::ListItem);
            options << (node->child(i)->state().selected ? "*" : "") + node->child(i)->text(QAccessible::Name);
            EXPECT_EQ(node->child(i)->state().focused, node->child(i)->state().selected);
        }
        EXPECT_EQ(options, row.options);
        EXPECT_EQ(node->focusChild(), row.role == QAccessible::List ? node->child(1) : nullptr);
        EXPECT_EQ(node->state().focused, row.role != QAccessible::List); // a list's row, not the list too
    }
}
