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

std::optional<PdfWidget> numbered(std::optional<int> number, const std::vector<PdfWidget>& fields)
{
    for (const auto& w : fields)
        if (number && w.objectNumber == *number) return w;
    return std::nullopt;
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
    EXPECT_TRUE(FormFields::isTabStop(widget(1, PdfWidgetKind::checkBox, 0, 0)));
    EXPECT_TRUE(FormFields::isTabStop(widget(1, PdfWidgetKind::choice, 0, 0)));
    EXPECT_FALSE(FormFields::takesText(widget(1, PdfWidgetKind::choice, 0, 0)));
    auto readOnly = widget(1, PdfWidgetKind::text, 0, 0);
    readOnly.readOnly = true;
    EXPECT_FALSE(FormFields::isTabStop(readOnly));
    EXPECT_FALSE(FormFields::takesText(readOnly));
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

TEST(FormFields, TabAndShiftTabReachEveryEnabledFieldAndWrap)
{
    // In reading order: texts A and B, a check box, radio group g (its second
    // button chosen), text C, a choice, a read-only text, radio group h (none chosen).
    std::vector<PdfWidget> fields = {
        widget(10, PdfWidgetKind::text, 0, 700),        widget(11, PdfWidgetKind::text, 0, 650),
        widget(12, PdfWidgetKind::checkBox, 0, 600),    widget(13, PdfWidgetKind::radioButton, 0, 550),
        widget(14, PdfWidgetKind::radioButton, 0, 500), widget(15, PdfWidgetKind::text, 0, 450),
        widget(16, PdfWidgetKind::choice, 0, 400),      widget(17, PdfWidgetKind::text, 0, 350),
        widget(18, PdfWidgetKind::radioButton, 0, 300), widget(19, PdfWidgetKind::radioButton, 0, 250),
    };
    fields[3].name = fields[4].name = "g";
    fields[4].state = 1;
    fields[6].readOnly = false;
    fields[7].readOnly = true;
    fields[8].name = fields[9].name = "h";
    // A text field the list no longer holds, read between B and the check box.
    const PdfWidget gone = widget(99, PdfWidgetKind::text, 0, 620);
    const struct {
        std::optional<PdfWidget> from;
        bool backward;
        int to;
        bool wrapped;
    } rows[] = {
        {numbered(11, fields), false, 12, false}, // B → the check box
        {numbered(12, fields), false, 14, false}, // → group g, at its chosen button
        {numbered(13, fields), false, 15, false}, // Tab leaves the group
        {numbered(15, fields), true, 14, false},  // and comes back to its chosen button
        {numbered(14, fields), true, 12, false},
        {numbered(16, fields), false, 18, false}, // the read-only text is passed; h at its first
        {numbered(19, fields), true, 16, false},
        {numbered(18, fields), false, 10, true}, // past the last: round to A
        {numbered(10, fields), true, 18, true},
        {std::nullopt, false, 10, false},
        {std::nullopt, true, 18, false},
        {gone, false, 12, false}, // placed where it reads
        {gone, true, 11, false},
    };
    for (const auto& row : rows) {
        const auto next = FormFields::next(row.from, fields, row.backward);
        ASSERT_TRUE(next) << (row.from ? row.from->objectNumber : -1);
        EXPECT_EQ(next->field.objectNumber, row.to) << (row.from ? row.from->objectNumber : -1) << row.backward;
        EXPECT_EQ(next->wrapped, row.wrapped) << (row.from ? row.from->objectNumber : -1) << row.backward;
    }
    EXPECT_FALSE(FormFields::next(std::nullopt, {fields[7]}, false));
    EXPECT_FALSE(FormFields::next(std::nullopt, {}, false));
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
    // Tab from nowhere round every stop and back to the first; Shift+Tab the
    // same way back. The push button is no field.
    const struct {
        const char* file;
        std::vector<std::string> stops;
    } rows[] = {
        {"pdflatex-forms.pdf", {"Name", "Check"}},
        {"libreoffice-form.pdf",
         {"First Name", "Last Name", "Birthday", "female", "Nationality", "gdpr", "other", "First Name_2"}},
    };
    for (const auto& row : rows) {
        const auto fields = FormFields::fields(*PdfDocument::openFile(testsupport::corpusPath(row.file)));
        for (const bool backward : {false, true}) {
            std::vector<std::string> tabs;
            std::optional<PdfWidget> at;
            for (size_t i = 0; i <= row.stops.size(); ++i) {
                const auto next = FormFields::next(at, fields, backward);
                ASSERT_TRUE(next) << row.file;
                EXPECT_EQ(next->wrapped, i == row.stops.size()) << row.file << " " << i;
                tabs.push_back(next->field.name);
                at = next->field;
            }
            std::vector<std::string> expected = row.stops;
            if (backward) std::reverse(expected.begin(), expected.end());
            expected.push_back(expected.front());
            EXPECT_EQ(tabs, expected) << row.file << (backward ? " backwards" : "");
        }
    }
    auto plain = PdfDocument::openBytes(testsupport::makeTextPdf(3));
    EXPECT_FALSE(FormFields::declaresFields(*plain));
    EXPECT_TRUE(FormFields::fields(*plain).empty());
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
    doc->saveToFile(testsupport::chosen(path));
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
