#pragma once
// The back/forward history of one page view: where the reader was before
// each jump (a page chosen, a link followed, a match shown), up to a hundred
// places. A place is kept by its page object, so that it still names the
// same page after pages moved; places on pages taken out are passed over.
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QObject>

#include <optional>
#include <vector>

namespace quarn {

class QuarnPDFView;

class ReadingHistory : public QObject {
    Q_OBJECT

public:
    explicit ReadingHistory(QuarnPDFView& view);

    bool canGoBack() const { return !back_.empty(); }
    bool canGoForward() const { return !forward_.empty(); }
    void goBack() { step(back_, forward_); }
    void goForward() { step(forward_, back_); }

    // Keeps where the view is now, before a jump; the forward places go.
    void record();
    // Forgets every place (another document is shown).
    void clear();

signals:
    void changed();

private:
    struct Visit {
        quarnkit::PageId page;
        quarnkit::PageDestination destination;
    };
    std::optional<Visit> visit(const quarnkit::PageDestination& destination) const;
    std::optional<quarnkit::PageDestination> destination(const Visit& visit) const;
    void step(std::vector<Visit>& from, std::vector<Visit>& to);

    QuarnPDFView& view_;
    std::vector<Visit> back_;
    std::vector<Visit> forward_;
};

} // namespace quarn
