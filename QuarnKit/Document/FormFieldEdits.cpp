#include "QuarnKit/Document/FormFieldEdits.h"

#include "QuarnKit/Document/FormFieldCommand.h"

#include <algorithm>
#include <exception>
#include <memory>

namespace quarnkit::FormFieldEdits {

using FormFields::Widget;
using platform::PdfDocument;
using platform::PdfForms;

namespace {

bool apply(QuarnDocument& document, const Widget& field, std::vector<Widget> group, const QString& name,
           FormFieldCommand::Change change)
{
    if (std::none_of(group.begin(), group.end(), [&](const Widget& w) { return w.objectNumber == field.objectNumber; }))
        group.push_back(field);
    const auto outcome = std::make_shared<FormFieldCommand::Outcome>();
    DocumentCommand::push(new FormFieldCommand(document, name, std::move(group), std::move(change), outcome));
    if (outcome->failure) std::rethrow_exception(outcome->failure);
    return outcome->took;
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
