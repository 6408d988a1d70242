#pragma once
// The column beside the rail while it shows a library panel: History or
// Explore. The document's own sidebar ("This PDF") is not here: it belongs
// to the pages' view, which shows it while the column's panel is the
// document's.
#include "Quarn/Explore/ExplorePanel.h"
#include "QuarnKit/History/LibraryPanel.h"

#include <QPointer>
#include <QWidget>

#include <optional>

class QStackedLayout;

namespace quarnkit {
class HistoryLibrary;
}

namespace quarn {

namespace motion {
class FadeIn;
}
class HistoryPanel;
class ViewerModel;

class LibraryColumn : public QWidget {
    Q_OBJECT
public:
    // Without a library the column shows neither History nor Explore (which
    // opens files through it).
    // With `later`, a panel shown at the start is room of its width only
    // until fillIn (see there).
    LibraryColumn(ViewerModel* model, quarnkit::HistoryLibrary* library, QWidget* parent = nullptr, bool later = false);

    // Whether the column has a panel to show for `panel`.
    bool offers(quarnkit::LibraryPanel panel) const;
    // Made the first time History is shown.
    HistoryPanel* historyPanel() const { return history_; }
    // Made the first time Explore is shown, over the window's Explore model.
    ExplorePanel* explorePanel() const { return explore_; }
    // What that model searches: the file index unless set before then.
    ExploreSourceMaker exploreSource;
    // How long the rail's changes of the column take: 0.14 s.
    static constexpr int fadeTime = 140;
    // Shows or hides itself as the window's model says. Shown, hidden or
    // switched to another panel by the rail, what comes fades in and what
    // goes fades out over fadeTime.
    void follow();
    // How far in it is drawn, 0 … 1.
    double opacity() const;
    // Makes the panel that waits: once the window's first page is on the
    // screen, or as soon as the user chooses a panel.
    void fillIn();

private:
    QWidget* panelFor(quarnkit::LibraryPanel panel);

    QPointer<ViewerModel> model_;
    quarnkit::HistoryLibrary* library_;
    QStackedLayout* stack_ = nullptr;
    QWidget* host_ = nullptr;
    bool waiting_ = false;
    std::optional<quarnkit::LibraryPanel> showing_; // the panel shown, while shown
    motion::FadeIn* fade_ = nullptr;
    HistoryPanel* history_ = nullptr;
    ExplorePanel* explore_ = nullptr;
};

} // namespace quarn
