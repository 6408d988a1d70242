#pragma once
// The list view under the History and Explore panels: rows drawn by the
// panel's delegate, a hover that follows the pointer, a click that opens the
// row it was pressed and released on (the second click of a double click
// does nothing more), links inside a row, and the row's menu. Rows that open
// nothing (headers, notes, the overflow line) take no hover and no clicks.
// The keyboard reaches the list with Tab: the arrows, Home and End move
// among the rows that open, Return opens one and the menu key (or
// Shift+F10) shows its menu. A screen reader sees each row as a button
// that opens, with the panel's named actions beside.
#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/Motion.h"

#include <QAccessible>
#include <QListView>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace quarn {

class LibraryThumbnails;

// An action a screen reader offers on a row beside opening it.
struct LibraryRowAction {
    QString name;
    std::function<void()> run;
};

class LibraryList : public QListView {
    Q_OBJECT
public:
    static constexpr int rowInset = 6; // the rows stand 6 in from the list's sides

    LibraryList(QAbstractItemModel* model, LibraryThumbnails& thumbnails, QWidget* parent = nullptr);
    ~LibraryList() override;
    LibraryThumbnails& thumbnails() const { return thumbnails_; }
    // Asks for a row's picture (LibraryThumbnails::request at the list's
    // scale); one that arrives while the list shows fades in over the
    // placeholder (0.18 s).
    void requestThumbnail(const QString& path, const QString& key, std::function<bool()> wanted);
    // How far the picture under `key` has come in, 0 … 1; a picture that
    // was at hand when its row showed is there at once.
    double pictureShown(const QString& key) const;

    // Whether a row opens something (an entry, a result).
    virtual bool opens(int row) const = 0;
    // A section's header row; a screen reader reads it as a heading.
    virtual bool isHeading(int row) const;
    // The row of the document that this window shows.
    virtual bool isCurrentDocument(int row) const;
    // What a row that opens shows (an entry's id, a result's path), the same
    // after the rows are made again.
    virtual QString rowIdentity(int row) const = 0;
    // The named actions of a row besides opening it, set by the panel.
    std::function<std::vector<LibraryRowAction>(int row)> rowActions;
    // Opens a row as a click does; rows that open nothing are left alone.
    void openRow(int row);

    // The rows on screen now, [first, end).
    std::pair<int, int> visibleRows() const;
    // Where a row that opens stands in the viewport, as far as clicks reach
    // it; empty for the other rows.
    virtual QRect rowRect(int row) const = 0;
    // Where a row's link stands in the viewport; empty without that link.
    virtual QRect linkRect(int row, int link) const;
    int hoveredRow() const { return hoveredRow_; }
    int hoveredLink() const { return hoveredLink_; }
    // The row the keys are on; -1 for none.
    int keyboardRow() const;
    void setKeyboardRow(int row);
    // How lit a row is drawn, 0 … 1: the row under the pointer eases in
    // over 0.12 s and the one it left eases out; the keys' row, while the
    // list has them, is lit at once.
    double lit(int row) const;
    // How lit a link of a row is drawn, 0 … 1: it eases in and out under the
    // pointer as the rows do.
    double linkLit(int row, int link) const;
    // The screen reader's element of a row, made on first use and kept
    // until the rows change.
    QAccessibleInterface* accessibleRow(int row);

signals:
    void rowActivated(int row);
    void rowLinkActivated(int row, int link);
    void rowMenuRequested(int row, const QPoint& globalPos, MenuAsked asked);

protected:
    // Scrolls the row into view.
    virtual void showRow(int row);
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The row that opens under a viewport point; -1 for none.
    int rowAt(const QPoint& point) const;
    int linkAt(int row, const QPoint& point) const;
    void setHover(int row, int link);
    // The next row that opens from `row` in steps of `step`; -1 for none.
    int nextOpening(int row, int step) const;
    void showMenuOfKeyboardRow();
    int rowAfterReset() const;
    void dropAccessibleRows();
    void pictureArrived(const QString& key);

    LibraryThumbnails& thumbnails_;
    motion::Ease hoverIn_;  // of hoveredRow_
    motion::Ease hoverOut_; // of leftRow_
    int leftRow_ = -1;      // the row the pointer left last
    int hoveredRow_ = -1;
    int hoveredLink_ = -1;
    motion::Ease linkIn_;                                       // of hoveredLink_
    motion::Ease linkOut_;                                      // of leftLink_
    std::pair<int, int> leftLink_{-1, -1};                      // the row and link the pointer left last
    std::set<QString> awaited_;                                 // pictures asked for and not come
    std::map<QString, std::unique_ptr<motion::Ease>> arrivals_; // pictures fading in
    int pressedRow_ = -1;
    int rowBeforeReset_ = -1;
    QString identityBeforeReset_;
    std::map<int, QAccessible::Id> accessibleRows_; // row → its element's id
};

} // namespace quarn
