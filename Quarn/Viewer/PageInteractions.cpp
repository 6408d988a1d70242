#include "Quarn/Viewer/PageInteractions.h"

#include "Quarn/Viewer/PageAccessibility.h"
#include "Quarn/Viewer/PageLinks.h"
#include "Quarn/Viewer/TextSelection.h"

#include <algorithm>

namespace quarn {

namespace {
constexpr int ownInteractions = 3;
} // namespace

PageInteractions::PageInteractions(QuarnPDFView& view)
{
    links_ = static_cast<PageLinks*>(all_.emplace_back(std::make_unique<PageLinks>(view)).get());
    textSelection_ = static_cast<TextSelection*>(all_.emplace_back(std::make_unique<TextSelection>(view)).get());
    accessibility_ =
        static_cast<PageAccessibility*>(all_.emplace_back(std::make_unique<PageAccessibility>(view)).get());
}

PageInteractions::~PageInteractions() = default;

PageInteraction& PageInteractions::add(std::unique_ptr<PageInteraction> interaction)
{
    // Ahead of the view's own.
    return **all_.insert(all_.end() - ownInteractions, std::move(interaction));
}

std::optional<Qt::CursorShape> PageInteractions::cursor(QPointF viewportPoint) const
{
    for (const auto& each : all_)
        if (const auto wanted = each->cursor(viewportPoint)) return wanted;
    return std::nullopt;
}

bool PageInteractions::holdArrows() const
{
    return std::any_of(all_.begin(), all_.end(), [](const auto& each) { return each->holdsArrows(); });
}

} // namespace quarn
