#pragma once
// Every keyboard shortcut of the application in one table, and the
// user-facing catalog the keyboard-shortcuts window shows and filters. The
// menus take their keys from the table, the page view and the other key
// handlers look keys up in it, and the catalog reads it; nothing else names a key.
#include "QuarnKit/Shell/RGBA.h"

#include <QKeyCombination>
#include <QKeySequence>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace quarnkit {

// Where a shortcut is heard. Shortcuts of different contexts may share keys;
// the contexts that are live together never do (see liveTogether).
enum class ShortcutContext {
    application,  // works with no document window: menu items of the application
    window,       // menu items of the focused document window
    pageView,     // the page view with focus and no mark selected
    selectedMark, // the page view with a mark selected: these keys come first
    findField,    // the find field with focus
    pageList,     // the sidebar's page thumbnails with focus
    slideshow,    // the full-screen slideshow window
    signaturePad, // the drawing pad of the signature sheet
};

enum class ShortcutCommand {
    // File and application
    open,
    save,
    saveAs,
    closeWindow,
    quit,
    settings,
    exportDocument,
    copyPage,
    print,
    documentInfo,
    // Edit
    undo,
    redo,
    cut,
    copy,
    paste,
    duplicateMark,
    bringToFront,
    sendToBack,
    find,
    findNext,
    findPrevious,
    // View
    toggleSidebar,
    singlePage,
    continuous,
    twoPages,
    twoPagesContinuous,
    zoomIn,
    zoomOut,
    actualSize,
    fitPage,
    fitWidth,
    slideshow,
    history,
    explore,
    sidebarPages,
    sidebarOutline,
    sidebarMarks,
    // Go
    nextPage,
    previousPage,
    firstPage,
    lastPage,
    goToPage,
    back,
    forward,
    // Pages and Sign
    rotateLeft,
    rotateRight,
    insertBlankPage,
    insertPagesFromFile,
    addSignature,
    insertDate,
    insertCheckmark,
    // Window and Help
    welcome,
    keyboardShortcuts,
    // The page view's own keys
    pageViewNextPage,
    pageViewPreviousPage,
    pageViewFirstPage,
    pageViewLastPage,
    backToSelect,
    nextFormField,
    previousFormField,
    toolSelect,
    toolPen,
    toolHighlight,
    toolUnderline,
    toolStrikethrough,
    toolRectangle,
    toolEllipse,
    toolLine,
    toolArrow,
    toolText,
    toolNote,
    toolRedact,
    toolEraser,
    swatch1,
    swatch2,
    swatch3,
    swatch4,
    swatch5,
    swatch6,
    swatch7,
    swatch8,
    // A selected mark
    nudge,
    nudgeFar,
    deleteMark,
    editMark,
    // The find field
    findFieldNext,
    findFieldPrevious,
    closeFind,
    // The page thumbnails
    deletePages,
    // The slideshow
    slideshowNext,
    slideshowPrevious,
    slideshowExit,
    // The signature pad
    undoStroke,
};

struct Shortcut {
    ShortcutCommand command;
    ShortcutContext context;
    QList<QKeySequence> keys; // every combination that runs the command; the first is the menu's
    // The key texts the shortcuts window shows for the command, when they are
    // not simply the keys ("Arrow keys").
    QStringList shownKeys;
};

namespace KeyboardShortcuts {

// The table: every shortcut of the application, once.
const std::vector<Shortcut>& table();
const Shortcut& shortcut(ShortcutCommand command);

// The keys of a command; the menu shows and binds the first (none when empty).
QList<QKeySequence> keys(ShortcutCommand command);
QKeySequence menuKey(ShortcutCommand command);
// The key texts the shortcuts window shows for a command ("Ctrl+Alt+G", "→").
QStringList shownKeys(ShortcutCommand command);

// The command a key press runs in a context, or none. Keypad Enter counts as
// Return, Shift+Tab arriving as Backtab as Shift+Tab, and the keypad flag is ignored.
std::optional<ShortcutCommand> command(QKeyCombination key, ShortcutContext context);
// The same press normalised as the table writes it.
QKeyCombination normalized(QKeyCombination key);

// Whether two contexts can hear keys at the same moment.
bool liveTogether(ShortcutContext a, ShortcutContext b);
// Combinations the Linux desktops keep for themselves: Meta with anything,
// Ctrl+Alt+T, Ctrl+Alt+L, Ctrl+Alt+D, Ctrl+Alt+Delete and Ctrl+Alt(+Shift)+arrows.
bool isReserved(QKeyCombination key);

// A combination as the shortcuts window writes it: modifiers as "Ctrl+",
// "Alt+", "Shift+" in that order, arrows as "←", "→", "↑", "↓".
QString keyText(QKeyCombination key);

} // namespace KeyboardShortcuts

// ---------------------------------------------------------------- the catalog

// One line of the keyboard-shortcuts window: what the keys do and the keys.
struct ShortcutRow {
    QString title;
    std::vector<QStringList> keys; // alternatives, each a list of key caps
    std::optional<RGBA> swatch;    // rows of the Colors group

    // Each key text is one alternative, split into caps by caps().
    ShortcutRow(QString title, const QStringList& keyTexts, std::optional<RGBA> swatch = std::nullopt);

    // The title followed by the alternatives, caps joined with nothing and
    // alternatives with "|": "Next page→|Page Down|Alt↓".
    QString id() const;
    friend bool operator==(const ShortcutRow&, const ShortcutRow&) = default;

    // Splits a key text into caps: leading modifiers ("Ctrl+", "Alt+",
    // "Shift+", "Meta+", or the symbols ⌃ ⌥ ⇧ ⌘) become caps of their own while
    // text remains after them; the rest is the last cap. "" gives no caps.
    static QStringList caps(const QString& text);
};

struct ShortcutGroup {
    QString title;
    std::vector<ShortcutRow> rows;

    QString id() const { return title; }
    friend bool operator==(const ShortcutGroup&, const ShortcutGroup&) = default;
};

namespace ShortcutCatalog {

// The eleven groups, built afresh from the table on every call.
std::vector<ShortcutGroup> groups();
// Groups whose title contains the trimmed query (case-insensitively) come
// whole; other groups keep the rows whose title contains it and are left out
// when none does. Key texts are never searched. A blank query gives all groups.
std::vector<ShortcutGroup> filtered(const QString& query);

} // namespace ShortcutCatalog
} // namespace quarnkit
