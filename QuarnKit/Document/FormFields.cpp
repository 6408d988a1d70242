#include "QuarnKit/Document/FormFields.h"

#include "QuarnKit/Document/DocumentEngine.h"

#include <algorithm>

namespace quarnkit {
namespace FormFields {

using platform::PdfWidgetKind;

bool isField(const Widget& widget)
{
    if (widget.hidden) return false;
    switch (widget.kind) {
    case PdfWidgetKind::text:
    case PdfWidgetKind::choice:
    case PdfWidgetKind::checkBox:
    case PdfWidgetKind::radioButton: return true;
    default: return false;
    }
}

bool isTabStop(const Widget& widget) { return isField(widget) && !widget.readOnly; }

bool takesText(const Widget& widget) { return isTabStop(widget) && widget.kind == PdfWidgetKind::text; }

bool declaresFields(const platform::PdfDocument& doc) { return platform::PdfForms::declaresFields(doc); }

std::vector<Widget> fields(const platform::PdfDocument& doc)
{
    std::vector<Widget> result;
    const int count = doc.pageCount();
    for (int page = 0; page < count; ++page) {
        std::vector<Widget> onPage;
        try {
            for (auto& widget : platform::PdfForms::widgets(doc, page))
                if (isField(widget)) onPage.push_back(std::move(widget));
        } catch (const platform::PdfError&) {
            continue; // a page that cannot be read is skipped
        }
        for (auto& widget : readingOrder(std::move(onPage))) result.push_back(std::move(widget));
    }
    return result;
}

std::optional<Widget> widget(const QuarnDocument& document, int page, int objectNumber)
{
    try {
        return platform::PdfForms::widget(*pdfOf(document), page, objectNumber);
    } catch (const platform::PdfError&) {
        return std::nullopt;
    }
}

std::function<Reading()> readingJob(const QuarnDocument& document, bool wasAccepted)
{
    return [pdf = pdfOf(document), wasAccepted] {
        Reading reading;
        reading.accepted = wasAccepted || declaresFields(*pdf);
        if (reading.accepted) reading.fields = fields(*pdf);
        return reading;
    };
}

std::function<std::vector<Widget>()> valuesJob(const QuarnDocument& document, std::vector<Widget> fields)
{
    return [pdf = pdfOf(document), fields = std::move(fields)] {
        std::map<int, std::vector<Widget>> pages;
        for (const Widget& field : fields) {
            if (pages.count(field.page)) continue;
            try {
                pages[field.page] = platform::PdfForms::widgets(*pdf, field.page);
            } catch (const std::exception&) {
                pages[field.page] = {};
            }
        }
        std::vector<Widget> current;
        current.reserve(fields.size());
        for (const Widget& field : fields) {
            const auto& onPage = pages[field.page];
            const auto it = std::find_if(onPage.begin(), onPage.end(),
                                         [&](const Widget& w) { return w.objectNumber == field.objectNumber; });
            current.push_back(it != onPage.end() ? *it : field);
        }
        return current;
    };
}

std::vector<Widget> readingOrder(std::vector<Widget> widgets)
{
    std::stable_sort(widgets.begin(), widgets.end(),
                     [](const Widget& a, const Widget& b) { return a.rect.midY() > b.rect.midY(); });
    std::vector<Widget> result;
    result.reserve(widgets.size());
    size_t rowStart = 0;
    // A widget joins the row while its middle is not below the bottom of the
    // row's first (highest) widget, so fields of slightly different heights
    // on one line stay together.
    for (size_t i = 0; i <= widgets.size(); ++i) {
        const bool endOfRow =
            i == widgets.size() || (i > rowStart && widgets[rowStart].rect.minY() > widgets[i].rect.midY());
        if (!endOfRow) continue;
        std::stable_sort(widgets.begin() + std::ptrdiff_t(rowStart), widgets.begin() + std::ptrdiff_t(i),
                         [](const Widget& a, const Widget& b) { return a.rect.minX() < b.rect.minX(); });
        for (size_t k = rowStart; k < i; ++k) result.push_back(std::move(widgets[k]));
        rowStart = i;
    }
    return result;
}

namespace {

bool sameRadioGroup(const Widget& a, const Widget& b)
{
    return a.kind == PdfWidgetKind::radioButton && b.kind == PdfWidgetKind::radioButton && !a.name.empty()
           && a.name == b.name;
}

// Where `current` stands in `fields`: its index there, or, for a field not
// among them, half a place before the first field read after it.
double placeOf(const Widget& current, const std::vector<Widget>& fields)
{
    const auto found = std::find_if(fields.begin(), fields.end(),
                                    [&](const Widget& w) { return w.objectNumber == current.objectNumber; });
    if (found != fields.end()) return double(found - fields.begin());
    std::vector<Widget> page{current};
    for (const Widget& w : fields)
        if (w.page == current.page) page.push_back(w);
    const std::vector<Widget> read = readingOrder(page);
    const auto at =
        std::find_if(read.begin(), read.end(), [&](const Widget& w) { return w.objectNumber == current.objectNumber; });
    const auto follower = at + 1 == read.end() ? std::optional<int>() : std::optional<int>((at + 1)->objectNumber);
    for (size_t i = 0; i < fields.size(); ++i)
        if (follower ? fields[i].objectNumber == *follower : fields[i].page > current.page) return double(i) - 0.5;
    return double(fields.size()) - 0.5;
}

} // namespace

std::vector<Widget> radioGroup(const Widget& field, const std::vector<Widget>& fields)
{
    std::vector<Widget> group;
    for (const Widget& w : fields)
        if (sameRadioGroup(w, field)) group.push_back(w);
    return group;
}

std::optional<TabStep> next(const std::optional<Widget>& current, const std::vector<Widget>& fields, bool backward)
{
    // The stops by their index: of a radio group, the button chosen, else its first.
    std::vector<size_t> stops;
    for (size_t i = 0; i < fields.size(); ++i) {
        const Widget& field = fields[i];
        if (!isTabStop(field)) continue;
        if (field.kind == PdfWidgetKind::radioButton) {
            const std::vector<Widget> group = radioGroup(field, fields);
            const auto chosen = std::find_if(group.begin(), group.end(), [](const Widget& w) { return w.state != 0; });
            if ((chosen != group.end() ? *chosen : group.front()).objectNumber != field.objectNumber) continue;
        }
        stops.push_back(i);
    }
    if (stops.empty()) return std::nullopt;
    if (!current) return TabStep{fields[backward ? stops.back() : stops.front()], false};

    const double place = placeOf(*current, fields);
    // Tab leaves the current field's radio group, whose buttons the arrows go through.
    const auto leaves = [&](size_t i) { return !sameRadioGroup(fields[i], *current); };
    if (backward) {
        for (auto it = stops.rbegin(); it != stops.rend(); ++it)
            if (double(*it) < place && leaves(*it)) return TabStep{fields[*it], false};
        return TabStep{fields[stops.back()], true};
    }
    for (size_t stop : stops)
        if (double(stop) > place && leaves(stop)) return TabStep{fields[stop], false};
    return TabStep{fields[stops.front()], true};
}

Value value(const Widget& widget) { return Value{widget.value, widget.state}; }

Snapshot values(const std::vector<Widget>& widgets)
{
    Snapshot snapshot;
    for (const auto& widget : widgets) snapshot[widget.objectNumber] = value(widget);
    return snapshot;
}

std::vector<Widget> changed(const std::vector<Widget>& current, const Snapshot& snapshot)
{
    std::vector<Widget> result;
    for (const auto& widget : current) {
        const auto it = snapshot.find(widget.objectNumber);
        if (it == snapshot.end() || !(it->second == value(widget))) result.push_back(widget);
    }
    return result;
}

} // namespace FormFields
} // namespace quarnkit
