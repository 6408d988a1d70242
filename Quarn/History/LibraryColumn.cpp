#include "Quarn/History/LibraryColumn.h"

#include "Quarn/Design/Motion.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/History/HistoryPanel.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Viewer/ViewerModel.h"

#include <QHBoxLayout>
#include <QStackedLayout>

#include <utility>

namespace quarn {

using quarnkit::LibraryPanel;

LibraryColumn::LibraryColumn(ViewerModel* model, quarnkit::HistoryLibrary* library, QWidget* parent, bool later)
    : QWidget(parent), model_(model), library_(library), waiting_(later)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    host_ = new QWidget(this);
    // A stack sizes itself by what its panels would like, not by their fixed
    // width (Explore's chips would like more): the panels' width is all the
    // column takes, whichever shows, so the pages beside never move.
    host_->setMaximumWidth(HistoryPanel::columnWidth);
    stack_ = new QStackedLayout(host_);
    row->addWidget(host_);
    row->addWidget(new Hairline(true, this));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    fade_ = new motion::FadeIn(this, fadeTime);
    if (model_) {
        // The user's own choice is made at once.
        connect(&PagesModel::of(*model_), &PagesModel::sidebarChanged, this, &LibraryColumn::fillIn);
        connect(&PagesModel::of(*model_), &PagesModel::libraryPanelChanged, this, &LibraryColumn::fillIn);
    }
    follow();
}

void LibraryColumn::fillIn()
{
    waiting_ = false;
    follow();
}

bool LibraryColumn::offers(LibraryPanel panel) const
{
    switch (panel) {
    case LibraryPanel::history: return library_ != nullptr;
    case LibraryPanel::explore: return library_ != nullptr && model_;
    case LibraryPanel::document: // the pages' view shows it
        return false;
    }
    return false;
}

QWidget* LibraryColumn::panelFor(LibraryPanel panel)
{
    if (!offers(panel)) return nullptr;
    switch (panel) {
    case LibraryPanel::history:
        if (!history_) {
            history_ = new HistoryPanel(*library_, model_);
            stack_->addWidget(history_);
        }
        return history_;
    case LibraryPanel::explore:
        if (!explore_) {
            explore_ = new ExplorePanel(windowExplore(*model_, exploreSource), model_, *library_);
            stack_->addWidget(explore_);
        }
        return explore_;
    case LibraryPanel::document: return nullptr;
    }
    return nullptr;
}

void LibraryColumn::follow()
{
    const bool shown = model_ && PagesModel::of(*model_).sidebar() && offers(PagesModel::of(*model_).libraryPanel());
    const std::optional<LibraryPanel> showing =
        shown ? std::optional(PagesModel::of(*model_).libraryPanel()) : std::nullopt;
    const std::optional<LibraryPanel> before = std::exchange(showing_, showing);
    // Hidden or switched by the rail, the panel that goes fades out as the
    // one that comes fades in.
    const bool eased = showing != before && motion::EasedChange::active();
    if (eased && before) motion::fadeOut(this, fadeTime);
    QWidget* panel = shown && !waiting_ ? panelFor(PagesModel::of(*model_).libraryPanel()) : nullptr;
    if (panel) stack_->setCurrentWidget(panel);
    // Both panels are as wide: the pages beside do not move when it comes.
    host_->setMinimumWidth(shown && !panel ? HistoryPanel::columnWidth : 0);
    // Hidden while another panel shows: coming back is "appearing" again.
    setVisible(shown);
    if (eased && showing) fade_->start();
}

double LibraryColumn::opacity() const { return fade_->opacity(); }

} // namespace quarn
