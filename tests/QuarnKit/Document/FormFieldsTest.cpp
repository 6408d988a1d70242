#include "Platform/PdfPageAssembly.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/FormFieldCommand.h"
#include "QuarnKit/Document/FormFieldEdits.h"
#include "QuarnKit/Document/FormFields.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QUndoStack>

#include <algorithm>

using platform::PdfDocument;
using platform::PdfForms;
using platform::PdfWidget;
using platform::PdfWidgetKind;
namespace FormFields = quarnkit::FormFields;

namespace {

PdfWidget widget(int number, PdfWidgetKind kind, double x, double y, double height = 20)
{
    PdfWidget w;
    w.objectNumber = number;
    w.kind = kind;
    w.rect = {x, y, 100, height};
    return w;
}

std::vector<int> numbers(const std::vector<PdfWidget>& widgets)
{
    std::vector<int> out;
    for (const auto& w : widgets) out.push_back(w.objectNumber);
    return out;
}

int tabFrom(std::optional<int> current, const std::vector<PdfWidget>& fields, bool backward)
{
    const auto next = FormFields::next(current, fields, backward);
    return next ? next->objectNumber : -1;
}

} // namespace

TEST(FormFields, TellsFieldsAndTabStopsApart)
{
    EXPECT_TRUE(FormFields::isField(widget(1, PdfWidgetKind::text, 0, 0)));
    EXPECT_TRUE(FormFields::isField(widget(1, PdfWidgetKind::choice, 0, 0)));
    EXPECT_TRUE(FormFields::isField(widget(1, PdfWidgetKind::checkBox, 0, 0)));
    EXPECT_TRUE(FormFields::isField(widget(1, PdfWidgetKind::radioButton, 0, 0)));
    EXPECT_FALSE(FormFields::isField(widget(1, PdfWidgetKind::pushButton, 0, 0)));
    EXPECT_FALSE(FormFields::isField(widget(1, PdfWidgetKind::signature, 0, 0)));
    EXPECT_FALSE(FormFields::isField(widget(1, PdfWidgetKind::unknown, 0, 0)));
    auto hidden = widget(1, PdfWidgetKind::text, 0, 0);
    hidden.hidden = true;
    EXPECT_FALSE(FormFields::isField(hidden));

    EXPECT_TRUE(FormFields::isTabStop(widget(1, PdfWidgetKind::text, 0, 0)));
    EXPECT_FALSE(FormFields::isTabStop(widget(1, PdfWidgetKind::checkBox, 0, 0)));
    EXPECT_FALSE(FormFields::isTabStop(widget(1, PdfWidgetKind::choice, 0, 0)));
    auto readOnly = widget(1, PdfWidgetKind::text, 0, 0);
    readOnly.readOnly = true;
    EXPECT_FALSE(FormFields::isTabStop(readOnly));
}

TEST(FormFields, ReadingOrderIsRowsTopDownThenLeftToRight)
{
    // Three fields on one line with slightly different heights, given out of order.
    const std::vector<PdfWidget> line = {
        widget(1, PdfWidgetKind::text, 300, 700, 20),
        widget(2, PdfWidgetKind::text, 50, 702, 16),
        widget(3, PdfWidgetKind::text, 180, 698, 24),
    };
    EXPECT_EQ(numbers(FormFields::readingOrder(line)), (std::vector<int>{2, 3, 1}));

    // A field whose middle lies below the bottom of the line's first field starts a new line,
    // even when it is further left.
    auto withNextLine = line;
    withNextLine.push_back(widget(4, PdfWidgetKind::text, 10, 660, 20));
    withNextLine.insert(withNextLine.begin(), widget(5, PdfWidgetKind::text, 400, 600, 20));
    EXPECT_EQ(numbers(FormFields::readingOrder(withNextLine)), (std::vector<int>{2, 3, 1, 4, 5}));

    // Equal keys keep their input order.
    const std::vector<PdfWidget> same = {widget(7, PdfWidgetKind::text, 50, 500),
                                         widget(6, PdfWidgetKind::text, 50, 500)};
    EXPECT_EQ(numbers(FormFields::readingOrder(same)), (std::vector<int>{7, 6}));
    EXPECT_TRUE(FormFields::readingOrder({}).empty());
}

TEST(FormFields, TabAndShiftTabStepOverButtonsAndWrap)
{
    // A, B, check box, C: the order given is the reading order.
    const std::vector<PdfWidget> fields = {
        widget(10, PdfWidgetKind::text, 0, 700),
        widget(11, PdfWidgetKind::text, 0, 650),
        widget(12, PdfWidgetKind::checkBox, 0, 600),
        widget(13, PdfWidgetKind::text, 0, 550),
    };
    EXPECT_EQ(tabFrom(11, fields, false), 13);           // B → C
    EXPECT_EQ(tabFrom(13, fields, false), 10);           // C wraps to A
    EXPECT_EQ(tabFrom(10, fields, true), 13);            // Shift-Tab on A wraps to C
    EXPECT_EQ(tabFrom(12, fields, false), 13);           // from the check box to C
    EXPECT_EQ(tabFrom(12, fields, true), 11);            // and back to B
    EXPECT_EQ(tabFrom(std::nullopt, fields, false), 10); // no focus: the first
    EXPECT_EQ(tabFrom(std::nullopt, fields, true), 13);  // or the last
    EXPECT_EQ(tabFrom(99, fields, false), 10);           // a field not in the list counts as none

    auto readOnlyC = fields;
    readOnlyC[3].readOnly = true;
    EXPECT_EQ(tabFrom(11, readOnlyC, false), 10);

    const std::vector<PdfWidget> noStops = {widget(1, PdfWidgetKind::checkBox, 0, 0),
                                            widget(2, PdfWidgetKind::choice, 0, 40)};
    EXPECT_EQ(tabFrom(1, noStops, false), -1);
    EXPECT_EQ(tabFrom(std::nullopt, {}, false), -1);
}

TEST(FormFields, ChangedReportsNewAndAlteredValuesOnly)
{
    auto text = widget(1, PdfWidgetKind::text, 0, 0);
    auto box = widget(2, PdfWidgetKind::checkBox, 0, 40);
    auto still = widget(3, PdfWidgetKind::text, 0, 80);
    still.value = "same";
    const auto snapshot = FormFields::values({text, box, still});

    text.value = ""; // none → "" is a change
    box.state = 1;   // 0 → 1 is a change
    auto added = widget(4, PdfWidgetKind::text, 0, 120);
    EXPECT_EQ(numbers(FormFields::changed({text, box, still, added}, snapshot)), (std::vector<int>{1, 2, 4}));
    EXPECT_TRUE(FormFields::changed({still}, snapshot).empty());

    // A later duplicate replaces the earlier one in a snapshot.
    auto first = widget(5, PdfWidgetKind::text, 0, 0);
    auto later = first;
    later.value = "later";
    EXPECT_EQ(FormFields::values({first, later}).at(5).string, "later");
    EXPECT_EQ(FormFields::value(later), (FormFields::Value{std::string("later"), 0}));
}

TEST(FormFields, TabOrderOnCorpusForms)
{
    auto latex = PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf"));
    EXPECT_TRUE(FormFields::declaresFields(*latex));
    const auto fields = FormFields::fields(*latex);
    // The push button is not a field; the text field and the check box are.
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0].name, "Name");
    EXPECT_EQ(fields[1].name, "Check");
    // The one text field is the only tab stop: Tab and Shift-Tab both land on it,
    // from nowhere, from itself and from the check box.
    for (bool backward : {false, true}) {
        EXPECT_EQ(FormFields::next(std::nullopt, fields, backward)->name, "Name");
        EXPECT_EQ(FormFields::next(fields[0].objectNumber, fields, backward)->name, "Name");
        EXPECT_EQ(FormFields::next(fields[1].objectNumber, fields, backward)->name, "Name");
    }

    auto office = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto officeFields = FormFields::fields(*office);
    ASSERT_EQ(officeFields.size(), 9u);
    std::vector<std::string> tabs;
    std::optional<int> at;
    for (int i = 0; i < 5; ++i) {
        const auto next = FormFields::next(at, officeFields, false);
        ASSERT_TRUE(next);
        tabs.push_back(next->name);
        at = next->objectNumber;
    }
    // Top to bottom, left to right, then around again.
    EXPECT_EQ(tabs, (std::vector<std::string>{"First Name", "Last Name", "Birthday", "First Name_2", "First Name"}));
    std::vector<std::string> back;
    at.reset();
    for (int i = 0; i < 4; ++i) {
        const auto next = FormFields::next(at, officeFields, true);
        back.push_back(next->name);
        at = next->objectNumber;
    }
    EXPECT_EQ(back, (std::vector<std::string>{"First Name_2", "Birthday", "Last Name", "First Name"}));

    auto plain = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    EXPECT_FALSE(FormFields::declaresFields(*plain));
    EXPECT_TRUE(FormFields::fields(*plain).empty());
    EXPECT_FALSE(FormFields::next(std::nullopt, FormFields::fields(*plain), false));
}

TEST(FormFields, EditsShowAsChangesAndSurviveSaving)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto doc = PdfDocument::openFile(testsupport::corpusPath("libreoffice-form.pdf"));
    const auto fields = FormFields::fields(*doc);
    const auto snapshot = FormFields::values(fields);
    EXPECT_TRUE(FormFields::changed(FormFields::fields(*doc), snapshot).empty());

    const auto find = [&](const std::string& name) {
        return *std::find_if(fields.begin(), fields.end(), [&](const PdfWidget& w) { return w.name == name; });
    };
    ASSERT_TRUE(PdfForms::setText(*doc, 0, find("Birthday").objectNumber, "1815-12-10"));
    ASSERT_TRUE(PdfForms::setChecked(*doc, 0, find("other").objectNumber, true));
    const auto changed = FormFields::changed(FormFields::fields(*doc), snapshot);
    std::vector<std::string> names;
    for (const auto& w : changed) names.push_back(w.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Birthday", "other"}));

    // Undoing puts the old values back, and the snapshot agrees again.
    ASSERT_TRUE(PdfForms::setText(*doc, 0, find("Birthday").objectNumber, ""));
    ASSERT_TRUE(PdfForms::setChecked(*doc, 0, find("other").objectNumber, false));
    EXPECT_TRUE(FormFields::changed(FormFields::fields(*doc), snapshot).empty());

    ASSERT_TRUE(PdfForms::setText(*doc, 0, find("Birthday").objectNumber, "1815-12-10"));
    const std::string path = dir.filePath(QStringLiteral("form.pdf")).toStdString();
    doc->saveToFile(path);
    auto reopened = PdfDocument::openFile(path);
    const auto again = FormFields::fields(*reopened);
    const auto it = std::find_if(again.begin(), again.end(), [](const PdfWidget& w) { return w.name == "Birthday"; });
    ASSERT_NE(it, again.end());
    EXPECT_EQ(it->value, "1815-12-10");
}

TEST(FormFieldCommand, UndoOfAFieldEditFindsItsPageAfterAMove)
{
    quarnkit::QuarnDocument document(platform::PdfDocument::openFile(testsupport::corpusPath("pdflatex-forms.pdf")));
    platform::appendPages(*pdfOf(document), *platform::PdfDocument::openBytes(testsupport::makeTextPdf(1)), 0, 1);
    const auto name = [&](int page) {
        for (const auto& w : platform::PdfForms::widgets(*pdfOf(document), page))
            if (w.name == "Name") return std::optional(w);
        return std::optional<platform::PdfWidget>();
    };
    ASSERT_TRUE(quarnkit::FormFieldEdits::setText(document, *name(0), {}, "Ada", "Typing"));
    QUndoStack& stack = document.undoStack();
    EXPECT_EQ(stack.undoText(), "Typing");

    platform::movePage(*pdfOf(document), 0, 1); // the form page is now the second
    ASSERT_TRUE(name(1).has_value());
    EXPECT_EQ(name(1)->value, "Ada");
    stack.undo();
    EXPECT_EQ(name(1)->value.value_or(""), "");
    EXPECT_EQ(document.editedPageIndex(), 1);
    stack.redo();
    EXPECT_EQ(name(1)->value, "Ada");
}
