#include "QuarnKit/Document/FormFieldEdits.h"

#include "QuarnKit/Document/FormFieldCommand.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <set>

namespace quarnkit::FormFieldEdits {

using FormFields::Widget;
using platform::PdfDocument;
using platform::PdfForms;

namespace {

bool apply(QuarnDocument& document, const Widget& field, std::vector<Widget> group, const QString& name,
           const std::function<bool(PdfDocument&)>& change)
{
    if (std::none_of(group.begin(), group.end(), [&](const Widget& w) { return w.objectNumber == field.objectNumber; }))
        group.push_back(field);
    PdfDocument& pdf = *document.pdf();
    const std::vector<Widget> before = FormFields::reread(pdf, group);
    bool took = false;
    std::exception_ptr failure;
    try {
        took = change(pdf);
    } catch (const platform::PdfError&) {
        failure = std::current_exception();
    }
    const std::vector<Widget> after = FormFields::reread(pdf, before);
    const bool changed =
        !std::equal(before.begin(), before.end(), after.begin(), after.end(),
                    [](const Widget& a, const Widget& b) { return FormFields::value(a) == FormFields::value(b); });
    if (changed) {
        // The pages of the widgets are drawn again: the document tells every view.
        std::set<int> pages;
        for (const Widget& w : after) pages.insert(w.page);
        for (int page : pages) document.noteEditOfPage(page);
        document.undoStack().push(new FormFieldCommand(document, name, before, after));
    }
    if (failure) std::rethrow_exception(failure);
    return took;
}

} // namespace

bool setText(QuarnDocument& document, const Widget& field, const std::vector<Widget>& group, const std::string& text,
             const QString& name)
{
    return apply(document, field, group, name,
                 [&](PdfDocument& pdf) { return PdfForms::setText(pdf, field.page, field.objectNumber, text); });
}

bool toggle(QuarnDocument& document, const Widget& field, const std::vector<Widget>& group, const QString& name)
{
    return apply(document, field, group, name,
                 [&](PdfDocument& pdf) { return PdfForms::toggle(pdf, field.page, field.objectNumber); });
}

bool choose(QuarnDocument& document, const Widget& field, const std::vector<Widget>& group, const std::string& option,
            const QString& name)
{
    return apply(document, field, group, name,
                 [&](PdfDocument& pdf) { return PdfForms::choose(pdf, field.page, field.objectNumber, option); });
}

} // namespace quarnkit::FormFieldEdits
