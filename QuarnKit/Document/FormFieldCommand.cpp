#include "QuarnKit/Document/FormFieldCommand.h"

#include "QuarnKit/Document/DocumentEngine.h"

#include <algorithm>
#include <set>

namespace quarnkit {

using FormFields::Widget;
using platform::PdfDocument;
using platform::PdfForms;
using platform::PdfWidgetKind;

namespace {

bool isButton(const Widget& w) { return w.kind == PdfWidgetKind::checkBox || w.kind == PdfWidgetKind::radioButton; }

// Puts the widgets back as they were read: buttons off before on, so that a
// radio button turned on last settles its group; a text or choice value once
// per widget (copies of one field share it).
void restore(PdfDocument& pdf, const std::vector<Widget>& states)
{
    for (int pass = 0; pass < 2; ++pass) {
        for (const Widget& w : states) {
            if (!isButton(w) || (w.state != 0) != (pass == 1)) continue;
            try {
                PdfForms::setChecked(pdf, w.page, w.objectNumber, w.state != 0);
            } catch (const platform::PdfError&) {}
        }
    }
    for (const Widget& w : states) {
        try {
            if (w.kind == PdfWidgetKind::text)
                PdfForms::setText(pdf, w.page, w.objectNumber, w.value.value_or(std::string()));
            else if (w.kind == PdfWidgetKind::choice && w.value)
                PdfForms::choose(pdf, w.page, w.objectNumber, *w.value);
            else if (w.kind == PdfWidgetKind::choice)
                PdfForms::clearChoice(pdf, w.page, w.objectNumber); // undoing the first choice of an empty list
        } catch (const platform::PdfError&) {
            // The widget went with its page; the step restores what is left.
        }
    }
}

} // namespace

std::vector<Widget> FormFields::reread(const PdfDocument& doc, const std::vector<Widget>& widgets)
{
    std::vector<Widget> result;
    for (const Widget& w : widgets) {
        try {
            if (auto fresh = PdfForms::widget(doc, w.page, w.objectNumber)) result.push_back(std::move(*fresh));
        } catch (const platform::PdfError&) {}
    }
    return result;
}

FormFieldCommand::FormFieldCommand(QuarnDocument& document, const QString& name, std::vector<Widget> group,
                                   Change change, std::shared_ptr<Outcome> outcome)
    : DocumentCommand(document, name), group_(std::move(group)), change_(std::move(change)),
      outcome_(std::move(outcome))
{}

bool FormFieldCommand::make(QuarnDocument& document)
{
    PdfDocument& pdf = *pdfOf(document);
    const std::vector<Widget> before = FormFields::reread(pdf, group_);
    try {
        outcome_->took = std::exchange(change_, nullptr)(pdf);
    } catch (const platform::PdfError&) {
        outcome_->failure = std::current_exception();
    }
    const std::vector<Widget> after = FormFields::reread(pdf, before);
    const bool changed =
        !std::equal(before.begin(), before.end(), after.begin(), after.end(),
                    [](const Widget& a, const Widget& b) { return FormFields::value(a) == FormFields::value(b); });
    if (!changed) return false;
    before_ = place(document, before);
    after_ = place(document, after);
    // The pages of the widgets are drawn again: the document tells every view.
    std::set<int> pages;
    for (const Widget& w : after) pages.insert(w.page);
    for (int page : pages) document.noteEditOfPage(page);
    return true;
}

std::vector<FormFieldCommand::Placed> FormFieldCommand::place(QuarnDocument& document,
                                                              const std::vector<Widget>& widgets) const
{
    std::vector<Placed> placed;
    for (const Widget& w : widgets)
        if (const auto page = document.pageId(w.page)) placed.push_back({*page, w});
    return placed;
}

bool FormFieldCommand::apply(QuarnDocument& document, bool forward)
{
    if (change_) return make(document);
    std::vector<Widget> states;
    std::set<platform::PdfPageId> pages;
    for (const Placed& placed : forward ? after_ : before_) {
        const auto index = document.pageIndex(placed.page);
        if (!index) continue; // its page is gone
        Widget w = placed.widget;
        w.page = *index;
        states.push_back(std::move(w));
        pages.insert(placed.page);
    }
    restore(*pdfOf(document), states);
    for (const platform::PdfPageId& page : pages) document.noteEdit(page);
    return !pages.empty();
}

} // namespace quarnkit
