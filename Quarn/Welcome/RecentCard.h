#pragma once
// The welcome window's cards: one recent PDF (or search result) as its
// first page over its name and a line under it, and the grid that sets them
// four to a row. A card opens its file with a click; its menu opens it,
// shows it in its folder, copies its path and, for a recent one, removes it
// from History. By keyboard a card is a stop of Tab: Return or Space opens
// it, Delete or the menu key offers its menu. A screen reader sees a button
// whose default action opens the file, with "Show in Folder" and, for a
// recent one, "Remove from History" beside.
#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Welcome/RecentThumbnails.h"
#include "QuarnKit/History/OpenProblem.h"

#include <QMenu>
#include <QPointer>
#include <QWidget>

#include <vector>

class QGridLayout;

namespace quarn {

class RecentCard : public ChromeButton {
    Q_OBJECT
public:
    static constexpr int thumbnailHeight = 150;

    explicit RecentCard(RecentThumbnails& thumbnails, QWidget* parent = nullptr);
    const RecentItem& item() const { return item_; }
    // A removable card offers "Remove from History".
    void setItem(const RecentItem& item, bool removable);
    bool isRemovable() const { return removable_; }
    // The menu a right click shows, for the caller to pop up.
    QMenu* makeMenu();
    // The menu shown now by a click or a key, if any.
    QMenu* shownMenu() const { return shownMenu_; }
    // How far the first page (or its symbol) has faded in, 0 … 1: a page
    // that arrives while the card shows fades in over 0.2 s.
    double arrival() const { return arrival_->value(); }
    // What the menu's items and a screen reader's named actions do.
    void reveal();
    void remove();
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void openRequested(const quarn::RecentItem& item);
    void removeRequested(const quarn::RecentItem& item);
    // Nothing could show the file in its folder.
    void revealFailed(const quarnkit::OpenProblem& problem);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    // Pops the menu up at `place`, unless it is up already (the menu key
    // comes both as a key and as a request for the menu).
    void showMenu(const QPoint& place, MenuAsked asked);
    void reveal(const RecentItem& item);

    RecentThumbnails& thumbnails_;
    RecentItem item_;
    bool removable_ = false;
    QPointer<QMenu> shownMenu_;
    motion::Ease* arrival_;
};

// Cards four to a row, 14 apart, rows 18 apart; a short last row keeps the
// width of a full one. Cards are reused as the items change; the hidden ones
// are out of a screen reader's view. The arrows move the keys from card to
// card: left and right in reading order, up and down by a row.
class CardGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int columns = 4;

    explicit CardGrid(RecentThumbnails& thumbnails, QWidget* parent = nullptr);
    void setItems(const std::vector<RecentItem>& items, bool removable);
    int count() const { return shown_; }
    RecentCard* card(int index) const { return index < shown_ ? cards_[size_t(index)] : nullptr; }

signals:
    void openRequested(const quarn::RecentItem& item);
    void removeRequested(const quarn::RecentItem& item);
    void revealFailed(const quarnkit::OpenProblem& problem);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    RecentThumbnails& thumbnails_;
    QGridLayout* grid_;
    std::vector<RecentCard*> cards_;
    std::vector<QWidget*> fillers_;
    int shown_ = 0;
};

} // namespace quarn
