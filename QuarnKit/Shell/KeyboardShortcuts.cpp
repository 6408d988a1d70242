#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <stdexcept>

namespace quarnkit {
namespace KeyboardShortcuts {
namespace {

using C = ShortcutCommand;
using X = ShortcutContext;

QList<QKeySequence> seq(std::initializer_list<const char*> texts)
{
    QList<QKeySequence> out;
    for (const char* text : texts)
        out.append(QKeySequence::fromString(QString::fromUtf8(text), QKeySequence::PortableText));
    return out;
}

std::vector<Shortcut> buildTable()
{
    // macOS keys translated: Command → Ctrl, Option → Alt, Shift → Shift.
    // Where the translation lands on a desktop's own combination, the nearest
    // free one is used: Go to next/previous page (Option-Command-Down/Up)
    // becomes Alt+Down/Up, as Ctrl+Alt+arrows switch workspaces; the Sign
    // items (Control-Command-S/T/K) become Ctrl+Alt+Shift+S/T/K, as Meta
    // belongs to the desktop, Ctrl+Alt+T opens a terminal, Ctrl+Alt+S shows
    // the sidebar and Ctrl+Shift+S is Save As.
    return {
        {C::open, X::application, seq({"Ctrl+O"}), {}},
        {C::save, X::window, seq({"Ctrl+S"}), {}},
        {C::saveAs, X::window, seq({"Ctrl+Shift+S"}), {}},
        {C::closeWindow, X::window, seq({"Ctrl+W"}), {}},
        {C::quit, X::application, seq({"Ctrl+Q"}), {}},
        {C::settings, X::application, seq({"Ctrl+,"}), {}},
        {C::exportDocument, X::window, seq({"Ctrl+E"}), {}},
        {C::copyPage, X::window, seq({"Ctrl+Shift+C"}), {}},
        {C::print, X::window, seq({"Ctrl+P"}), {}},
        {C::documentInfo, X::window, seq({"Ctrl+I"}), {}},

        {C::undo, X::window, seq({"Ctrl+Z"}), {}},
        {C::redo, X::window, seq({"Ctrl+Shift+Z"}), {}},
        {C::cut, X::window, seq({"Ctrl+X"}), {}},
        {C::copy, X::window, seq({"Ctrl+C"}), {}},
        {C::paste, X::window, seq({"Ctrl+V"}), {}},
        {C::duplicateMark, X::window, seq({"Ctrl+D"}), {}},
        {C::bringToFront, X::window, seq({"Ctrl+Alt+Shift+F"}), {}},
        {C::sendToBack, X::window, seq({"Ctrl+Alt+Shift+B"}), {}},
        {C::find, X::window, seq({"Ctrl+F"}), {}},
        {C::findNext, X::window, seq({"Ctrl+G"}), {}},
        {C::findPrevious, X::window, seq({"Ctrl+Shift+G"}), {}},

        {C::toggleSidebar, X::window, seq({"Ctrl+Alt+S"}), {}},
        {C::singlePage, X::window, seq({"Ctrl+1"}), {}},
        {C::continuous, X::window, seq({"Ctrl+2"}), {}},
        {C::twoPages, X::window, seq({"Ctrl+3"}), {}},
        {C::twoPagesContinuous, X::window, seq({"Ctrl+4"}), {}},
        // Ctrl++ as well: on many layouts "=" and "+" share a key.
        {C::zoomIn, X::window, seq({"Ctrl+=", "Ctrl++"}), {"Ctrl+="}},
        {C::zoomOut, X::window, seq({"Ctrl+-"}), {}},
        {C::actualSize, X::window, seq({"Ctrl+0"}), {}},
        {C::fitPage, X::window, seq({"Ctrl+9"}), {}},
        {C::fitWidth, X::window, seq({"Ctrl+8"}), {}},
        {C::slideshow, X::window, seq({"Ctrl+Shift+F"}), {}},
        {C::history, X::application, seq({"Ctrl+Y"}), {}},
        {C::explore, X::application, seq({"Ctrl+Alt+F"}), {}},
        {C::sidebarPages, X::window, seq({"Ctrl+Alt+1"}), {}},
        {C::sidebarOutline, X::window, seq({"Ctrl+Alt+2"}), {}},
        {C::sidebarMarks, X::window, seq({"Ctrl+Alt+3"}), {}},

        {C::nextPage, X::window, seq({"Alt+Down"}), {}},
        {C::previousPage, X::window, seq({"Alt+Up"}), {}},
        {C::firstPage, X::window, seq({"Ctrl+Up"}), {}},
        {C::lastPage, X::window, seq({"Ctrl+Down"}), {}},
        {C::goToPage, X::window, seq({"Ctrl+Alt+G"}), {}},
        {C::back, X::window, seq({"Ctrl+["}), {}},
        {C::forward, X::window, seq({"Ctrl+]"}), {}},

        {C::rotateLeft, X::window, seq({"Ctrl+L"}), {}},
        {C::rotateRight, X::window, seq({"Ctrl+R"}), {}},
        {C::insertBlankPage, X::window, seq({"Ctrl+Shift+N"}), {}},
        {C::insertPagesFromFile, X::window, seq({"Ctrl+Shift+I"}), {}},
        {C::addSignature, X::window, seq({"Ctrl+Alt+Shift+S"}), {}},
        {C::insertDate, X::window, seq({"Ctrl+Alt+Shift+T"}), {}},
        {C::insertCheckmark, X::window, seq({"Ctrl+Alt+Shift+K"}), {}},

        {C::welcome, X::application, seq({"Ctrl+Shift+1"}), {}},
        {C::keyboardShortcuts, X::application, seq({"Ctrl+/"}), {}},

        {C::pageViewNextPage, X::pageView, seq({"Right", "PgDown"}), {}},
        {C::pageViewPreviousPage, X::pageView, seq({"Left", "PgUp"}), {}},
        {C::pageViewFirstPage, X::pageView, seq({"Home"}), {}},
        {C::pageViewLastPage, X::pageView, seq({"End"}), {}},
        {C::backToSelect, X::pageView, seq({"Esc"}), {}},
        {C::nextFormField, X::pageView, seq({"Tab"}), {}},
        {C::previousFormField, X::pageView, seq({"Shift+Tab"}), {}},
        {C::toolSelect, X::pageView, seq({"V"}), {}},
        {C::toolPen, X::pageView, seq({"P"}), {}},
        {C::toolHighlight, X::pageView, seq({"H"}), {}},
        {C::toolUnderline, X::pageView, seq({"U"}), {}},
        {C::toolStrikethrough, X::pageView, seq({"S"}), {}},
        {C::toolRectangle, X::pageView, seq({"R"}), {}},
        {C::toolEllipse, X::pageView, seq({"O"}), {}},
        {C::toolLine, X::pageView, seq({"L"}), {}},
        {C::toolArrow, X::pageView, seq({"A"}), {}},
        {C::toolText, X::pageView, seq({"T"}), {}},
        {C::toolNote, X::pageView, seq({"N"}), {}},
        {C::toolRedact, X::pageView, seq({"X"}), {}},
        {C::toolEraser, X::pageView, seq({"E"}), {}},
        {C::swatch1, X::pageView, seq({"1"}), {}},
        {C::swatch2, X::pageView, seq({"2"}), {}},
        {C::swatch3, X::pageView, seq({"3"}), {}},
        {C::swatch4, X::pageView, seq({"4"}), {}},
        {C::swatch5, X::pageView, seq({"5"}), {}},
        {C::swatch6, X::pageView, seq({"6"}), {}},
        {C::swatch7, X::pageView, seq({"7"}), {}},
        {C::swatch8, X::pageView, seq({"8"}), {}},

        {C::nudge, X::selectedMark, seq({"Left", "Right", "Up", "Down"}), {"Arrow keys"}},
        {C::nudgeFar,
         X::selectedMark,
         seq({"Shift+Left", "Shift+Right", "Shift+Up", "Shift+Down"}),
         {"Shift+Arrow keys"}},
        {C::deleteMark, X::selectedMark, seq({"Del", "Backspace"}), {"Delete"}},
        {C::editMark, X::selectedMark, seq({"Return"}), {"Return"}},

        {C::findFieldNext, X::findField, seq({"Return"}), {}},
        {C::findFieldPrevious, X::findField, seq({"Shift+Return"}), {}},
        {C::closeFind, X::findField, seq({"Esc"}), {}},

        {C::deletePages, X::pageList, seq({"Del", "Backspace"}), {"Delete"}},

        {C::slideshowNext, X::slideshow, seq({"Right", "Space", "Shift+Right", "Down", "PgDown"}), {"→", "Space"}},
        {C::slideshowPrevious,
         X::slideshow,
         seq({"Left", "Shift+Space", "Shift+Left", "Up", "PgUp"}),
         {"←", "Shift+Space"}},
        {C::slideshowExit, X::slideshow, seq({"Esc", "Ctrl+."}), {"Esc"}},

        {C::undoStroke, X::signaturePad, seq({"Ctrl+Z"}), {}},
    };
}

QString keyName(Qt::Key key)
{
    switch (key) {
    case Qt::Key_Left: return QStringLiteral("←");
    case Qt::Key_Right: return QStringLiteral("→");
    case Qt::Key_Up: return QStringLiteral("↑");
    case Qt::Key_Down: return QStringLiteral("↓");
    case Qt::Key_PageUp: return QStringLiteral("Page Up");
    case Qt::Key_PageDown: return QStringLiteral("Page Down");
    case Qt::Key_Escape: return QStringLiteral("Esc");
    case Qt::Key_Return:
    case Qt::Key_Enter: return QStringLiteral("Return");
    case Qt::Key_Delete: return QStringLiteral("Delete");
    case Qt::Key_Backtab: return QStringLiteral("Tab");
    default: return QKeySequence(key).toString(QKeySequence::NativeText);
    }
}

} // namespace

const std::vector<Shortcut>& table()
{
    static const std::vector<Shortcut> shortcuts = buildTable();
    return shortcuts;
}

const Shortcut& shortcut(ShortcutCommand command)
{
    const auto& all = table();
    const auto it = std::find_if(all.begin(), all.end(), [&](const Shortcut& s) { return s.command == command; });
    if (it == all.end()) throw std::logic_error("a command without an entry in the shortcut table");
    return *it;
}

QList<QKeySequence> keys(ShortcutCommand command) { return shortcut(command).keys; }

QKeySequence menuKey(ShortcutCommand command)
{
    const auto& k = shortcut(command).keys;
    return k.isEmpty() ? QKeySequence() : k.first();
}

QStringList shownKeys(ShortcutCommand command)
{
    const Shortcut& s = shortcut(command);
    if (!s.shownKeys.isEmpty()) return s.shownKeys;
    QStringList texts;
    for (const QKeySequence& k : s.keys)
        if (!k.isEmpty()) texts.append(keyText(k[0]));
    return texts;
}

QKeyCombination normalized(QKeyCombination key)
{
    Qt::KeyboardModifiers mods = key.keyboardModifiers() & ~Qt::KeypadModifier;
    Qt::Key k = key.key();
    if (k == Qt::Key_Enter) k = Qt::Key_Return;
    if (k == Qt::Key_Backtab) {
        k = Qt::Key_Tab;
        mods |= Qt::ShiftModifier;
    }
    return QKeyCombination(mods, k);
}

std::optional<ShortcutCommand> command(QKeyCombination key, ShortcutContext context)
{
    const QKeyCombination wanted = normalized(key);
    for (const Shortcut& s : table()) {
        if (s.context != context) continue;
        for (const QKeySequence& k : s.keys)
            if (k.count() == 1 && normalized(k[0]) == wanted) return s.command;
    }
    return std::nullopt;
}

bool liveTogether(ShortcutContext a, ShortcutContext b)
{
    if (a == b) return true;
    const auto global = [](ShortcutContext c) { return c == X::application; };
    const auto documentWindow = [](ShortcutContext c) {
        return c == X::window || c == X::pageView || c == X::selectedMark || c == X::findField || c == X::pageList;
    };
    if (global(a) || global(b)) return true;
    // Menu keys reach every focus inside a document window; the focus places
    // themselves (page view, selected mark, find field, thumbnails) exclude
    // one another, and a selected mark's keys come before the page view's.
    if (a == X::window) return documentWindow(b);
    if (b == X::window) return documentWindow(a);
    return false;
}

bool isReserved(QKeyCombination key)
{
    const QKeyCombination k = normalized(key);
    const Qt::KeyboardModifiers mods = k.keyboardModifiers();
    if (mods & Qt::MetaModifier) return true;
    const bool ctrlAlt = (mods & Qt::ControlModifier) && (mods & Qt::AltModifier);
    if (!ctrlAlt) return false;
    switch (k.key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down: return true;
    case Qt::Key_T:
    case Qt::Key_L:
    case Qt::Key_D:
    case Qt::Key_Delete: return !(mods & Qt::ShiftModifier);
    default: return false;
    }
}

QString keyText(QKeyCombination key)
{
    const QKeyCombination k = normalized(key);
    QString text;
    const Qt::KeyboardModifiers mods = k.keyboardModifiers();
    if (mods & Qt::ControlModifier) text += QStringLiteral("Ctrl+");
    if (mods & Qt::AltModifier) text += QStringLiteral("Alt+");
    if (mods & Qt::ShiftModifier) text += QStringLiteral("Shift+");
    if (mods & Qt::MetaModifier) text += QStringLiteral("Meta+");
    return text + keyName(k.key());
}

} // namespace KeyboardShortcuts

// ---------------------------------------------------------------- ShortcutRow

ShortcutRow::ShortcutRow(QString title, const QStringList& keyTexts, std::optional<RGBA> swatch)
    : title(std::move(title)), swatch(swatch)
{
    for (const QString& text : keyTexts) keys.push_back(caps(text));
}

QString ShortcutRow::id() const
{
    QStringList alternatives;
    for (const QStringList& caps : keys) alternatives.append(caps.join(QString()));
    return title + alternatives.join(QLatin1Char('|'));
}

QStringList ShortcutRow::caps(const QString& text)
{
    static const QStringList modifierWords = {QStringLiteral("Ctrl+"), QStringLiteral("Alt+"), QStringLiteral("Shift+"),
                                              QStringLiteral("Meta+")};
    static const QString modifierSymbols = QStringLiteral("⌃⌥⇧⌘");
    QStringList out;
    if (text.isEmpty()) return out;
    QString rest = text;
    for (;;) {
        // A word modifier needs text after its "+"; a symbol needs one more character.
        const auto word = std::find_if(modifierWords.begin(), modifierWords.end(),
                                       [&](const QString& w) { return rest.startsWith(w) && rest.size() > w.size(); });
        if (word != modifierWords.end()) {
            out.append(word->chopped(1));
            rest = rest.mid(word->size());
            continue;
        }
        // Whole characters: the first grapheme cluster, however many code units it takes.
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, rest);
        const qsizetype firstEnd = finder.toNextBoundary();
        if (firstEnd > 0 && firstEnd < rest.size() && modifierSymbols.contains(rest.left(firstEnd))) {
            out.append(rest.left(firstEnd));
            rest = rest.mid(firstEnd);
            continue;
        }
        break;
    }
    out.append(rest);
    return out;
}

// ---------------------------------------------------------------- ShortcutCatalog

namespace ShortcutCatalog {
namespace {

using C = ShortcutCommand;

QStringList keysOf(std::initializer_list<ShortcutCommand> commands, const QStringList& extra = {})
{
    QStringList texts;
    for (ShortcutCommand c : commands) texts += KeyboardShortcuts::shownKeys(c);
    return texts + extra;
}

ShortcutRow row(const char* title, std::initializer_list<ShortcutCommand> commands, const QStringList& extra = {})
{
    return ShortcutRow(QString::fromUtf8(title), keysOf(commands, extra));
}

void add(std::vector<ShortcutGroup>& all, const QString& title, std::initializer_list<ShortcutRow> rows)
{
    all.push_back({title, std::vector<ShortcutRow>(rows)});
}

// The display mode's title with all but its first character lower-cased.
QString sentenceCase(const QString& title) { return title.isEmpty() ? title : title.left(1) + title.mid(1).toLower(); }

} // namespace

std::vector<ShortcutGroup> groups()
{
    static constexpr C toolCommands[] = {C::toolSelect,        C::toolPen,       C::toolHighlight, C::toolUnderline,
                                         C::toolStrikethrough, C::toolRectangle, C::toolEllipse,   C::toolLine,
                                         C::toolArrow,         C::toolText,      C::toolNote,      C::toolRedact,
                                         C::toolEraser};
    static constexpr C swatchCommands[] = {C::swatch1, C::swatch2, C::swatch3, C::swatch4,
                                           C::swatch5, C::swatch6, C::swatch7, C::swatch8};
    static constexpr C modeCommands[] = {C::singlePage, C::continuous, C::twoPages, C::twoPagesContinuous};

    std::vector<ShortcutGroup> all;

    ShortcutGroup tools{QStringLiteral("Tools"), {}};
    for (size_t i = 0; i < allTools.size(); ++i)
        tools.rows.emplace_back(title(allTools[i]), KeyboardShortcuts::shownKeys(toolCommands[i]));
    all.push_back(std::move(tools));

    ShortcutGroup colors{QStringLiteral("Colors"), {}};
    for (size_t i = 0; i < RGBA::swatches.size(); ++i)
        colors.rows.emplace_back(RGBA::swatches[i].name(), KeyboardShortcuts::shownKeys(swatchCommands[i]),
                                 RGBA::swatches[i]);
    all.push_back(std::move(colors));

    add(all, QStringLiteral("Marks"),
        {row("Duplicate", {C::duplicateMark}), row("Copy", {C::copy}), row("Cut", {C::cut}), row("Paste", {C::paste}),
         row("Edit a text mark or note", {C::editMark}, {QStringLiteral("Double-click")}), row("Nudge", {C::nudge}),
         row("Nudge 10 points", {C::nudgeFar}), row("Bring to front", {C::bringToFront}),
         row("Send to back", {C::sendToBack}), row("Delete", {C::deleteMark}),
         row("Snap while drawing", {}, {QStringLiteral("Shift")}), row("Back to Select", {C::backToSelect}),
         row("Undo", {C::undo}), row("Redo", {C::redo})});

    add(all, QStringLiteral("Navigation"),
        {row("Next page", {C::pageViewNextPage, C::nextPage}),
         row("Previous page", {C::pageViewPreviousPage, C::previousPage}),
         row("First page", {C::firstPage, C::pageViewFirstPage}), row("Last page", {C::lastPage, C::pageViewLastPage}),
         row("Go to page", {C::goToPage}), row("Back", {C::back}), row("Forward", {C::forward})});

    add(all, QStringLiteral("Zoom"),
        {row("Zoom in", {C::zoomIn}), row("Zoom out", {C::zoomOut}), row("Actual size", {C::actualSize}),
         row("Fit page", {C::fitPage}), row("Fit width", {C::fitWidth})});

    ShortcutGroup view{QStringLiteral("View"), {}};
    for (size_t i = 0; i < allDisplayModes.size(); ++i)
        view.rows.emplace_back(sentenceCase(title(allDisplayModes[i])), KeyboardShortcuts::shownKeys(modeCommands[i]));
    for (const auto& r : {row("Show or hide sidebar", {C::toggleSidebar}), row("History", {C::history}),
                          row("Explore PDFs on this computer", {C::explore}), row("Slideshow", {C::slideshow}),
                          row("Welcome window", {C::welcome}), row("Keyboard shortcuts", {C::keyboardShortcuts})})
        view.rows.push_back(r);
    all.push_back(std::move(view));

    add(all, QStringLiteral("Find"),
        {row("Find", {C::find}), row("Next match", {C::findNext, C::findFieldNext}),
         row("Previous match", {C::findPrevious, C::findFieldPrevious}), row("Close find", {C::closeFind})});

    add(all, QStringLiteral("Fill and sign"),
        {row("Add signature", {C::addSignature}), row("Insert date", {C::insertDate}),
         row("Insert checkmark", {C::insertCheckmark})});

    add(all, QStringLiteral("Pages"),
        {row("Rotate left", {C::rotateLeft}), row("Rotate right", {C::rotateRight}),
         row("Insert blank page", {C::insertBlankPage}), row("Insert pages from file", {C::insertPagesFromFile}),
         row("Sidebar tabs", {C::sidebarPages, C::sidebarOutline, C::sidebarMarks})});

    add(all, QStringLiteral("File"),
        {row("Open", {C::open}), row("Save", {C::save}), row("Export", {C::exportDocument}),
         row("Document info", {C::documentInfo}), row("Copy page", {C::copyPage}), row("Print", {C::print}),
         row("Settings", {C::settings})});

    add(all, QStringLiteral("Slideshow"),
        {row("Next page", {C::slideshowNext}, {QStringLiteral("Click")}), row("Previous page", {C::slideshowPrevious}),
         row("Exit", {C::slideshowExit})});
    return all;
}

std::vector<ShortcutGroup> filtered(const QString& query)
{
    const QString wanted = query.trimmed();
    if (wanted.isEmpty()) return groups();
    std::vector<ShortcutGroup> result;
    for (ShortcutGroup& group : groups()) {
        if (group.title.contains(wanted, Qt::CaseInsensitive)) {
            result.push_back(std::move(group));
            continue;
        }
        ShortcutGroup kept{group.title, {}};
        for (ShortcutRow& r : group.rows)
            if (r.title.contains(wanted, Qt::CaseInsensitive)) kept.rows.push_back(std::move(r));
        if (!kept.rows.empty()) result.push_back(std::move(kept));
    }
    return result;
}

} // namespace ShortcutCatalog
} // namespace quarnkit
