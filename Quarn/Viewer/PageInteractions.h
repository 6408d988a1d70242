#pragma once
// The interactions of one page view (PageInteraction.h) in the order they
// are offered events: those added from outside (the editing of marks), then
// the view's own, links and text selection, and what a screen reader reads
// (which takes no events).
#include "Quarn/Viewer/PageInteraction.h"

#include <memory>
#include <vector>

namespace quarn {

class PageAccessibility;
class PageLinks;
class QuarnPDFView;
class TextSelection;

class PageInteractions {
public:
    explicit PageInteractions(QuarnPDFView& view);
    ~PageInteractions();

    // Takes an interaction that gets events before the view's own, after
    // those added before it.
    PageInteraction& add(std::unique_ptr<PageInteraction> interaction);
    // The interaction of type T, if there is one.
    template <typename T>
    T* find() const
    {
        for (const auto& each : all_)
            if (auto* found = dynamic_cast<T*>(each.get())) return found;
        return nullptr;
    }
    TextSelection& textSelection() const { return *textSelection_; }
    PageLinks& links() const { return *links_; }
    PageAccessibility& accessibility() const { return *accessibility_; }

    // Offers an event to each in turn: true when one took it.
    template <typename F>
    bool offer(F&& takes) const
    {
        for (const auto& each : all_)
            if (takes(*each)) return true;
        return false;
    }
    // Tells each of them something.
    template <typename F>
    void tell(F&& told) const
    {
        for (const auto& each : all_) told(*each);
    }
    // The pointer's shape with the Select tool: the first one's that has one.
    std::optional<Qt::CursorShape> cursor(QPointF viewportPoint) const;
    // Something on the pages is selected that the arrow keys move (a mark).
    bool holdArrows() const;

private:
    std::vector<std::unique_ptr<PageInteraction>> all_;
    PageLinks* links_ = nullptr;
    TextSelection* textSelection_ = nullptr;
    PageAccessibility* accessibility_ = nullptr;
};

} // namespace quarn
