#pragma once
// The keyboard-shortcuts window: every shortcut of the catalog in two
// balanced columns of groups, narrowed by a search field as the user types.
// The rows are one stop of Tab after the search; the arrows go through them.
// One window for the application, made on first use; closing only hides it,
// so the query typed before is still there when it comes back, at the frame
// it was left at (kept in the user defaults under "ravlenKeyboardShortcuts").
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QPointer>
#include <QWidget>

#include <vector>

class QLabel;
class QScrollArea;

namespace platform {
class UserDefaults;
}

namespace quarn {

class FlatField;

// The groups dealt into two columns: each goes right when the right column
// weighs less than the left, else left; a group weighs its rows plus 2 (its heading).
struct ShortcutColumns {
    std::vector<quarnkit::ShortcutGroup> left, right;
};
ShortcutColumns dealShortcutColumns(std::vector<quarnkit::ShortcutGroup> groups);

// The window's content: header with the search field, then the columns.
class ShortcutsView : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutsView(QWidget* parent = nullptr);

    QString query() const;
    FlatField* searchField() const { return field_; }
    // What is shown now: the two columns, or the sentence when nothing matches (else empty).
    const ShortcutColumns& columns() const { return columns_; }
    QString emptyText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void placeFade();
    // The keys' row among the rows shown, the one stop of Tab there; `focus`: the keys go to it.
    void keysOnRow(int index, bool focus);

    FlatField* field_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QWidget* fade_ = nullptr;
    QLabel* empty_ = nullptr;
    ShortcutColumns columns_;
    std::vector<QWidget*> rows_; // in reading order: the left column, then the right
};

class ShortcutsWindow : public QObject {
    Q_OBJECT
public:
    static constexpr const char* frameKey = "ravlenKeyboardShortcuts";

    // The application's window, over the standard user defaults; never released.
    static ShortcutsWindow& shared();

    explicit ShortcutsWindow(platform::UserDefaults& defaults);
    ~ShortcutsWindow() override;

    // Makes the window on the first call; every call brings it to the front
    // as the active window.
    void show();
    // None until the first show().
    ShortcutsView* window() const { return window_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create();
    void saveFrame();
    // The saved frame when it still lies on a screen, else centred.
    void placeWindow();

    platform::UserDefaults& defaults_;
    QPointer<ShortcutsView> window_;
};

} // namespace quarn
