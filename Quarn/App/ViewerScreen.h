#pragma once
// The content of one document window: the library rail at its left edge,
// the toolbar, the find bar, the side column (the document's sidebar or a
// library panel), the page view and the status bar; in their place the
// password gate or a state message, beside the library panel, when the PDF
// is locked, empty or unreadable. It owns the window's viewer model, starts it
// when first shown, stops it when it goes away, feeds it the changes it
// watches, and opens PDF files dropped anywhere on the window.
#include "Quarn/Viewer/ViewerModel.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QKeyEvent;
class QMimeData;
class QStackedLayout;

namespace quarnkit {
class HistoryLibrary;
}

namespace quarn {

class PageViewHost;
class LockedGate;
class StateMessage;
class ChromeToolButton;
class FormBanner;
class InspectorPane;
class SidebarPane;
class FindBar;
class StatusBar;
class LibraryRail;
class LibraryColumn;

class ViewerScreen : public QWidget {
    Q_OBJECT
public:
    // What the content area shows, decided in this order.
    enum class Content { locked, noPages, unreadable, document };
    static Content contentFor(bool locked, bool unlocked, int pageCount, bool firstPageReadable);

    // The model reads `defaults` and keeps positions in `positions`: the
    // standard ones when none are given. The window's openings, moves and
    // page count are recorded in `history`, which the History panel shows;
    // without one, nothing is recorded and the rail offers no History.
    ViewerScreen(quarnkit::QuarnDocument* document, const QString& filePath, QWidget* parent = nullptr,
                 platform::UserDefaults* defaults = nullptr, quarnkit::ReadingPositionStore* positions = nullptr,
                 quarnkit::HistoryLibrary* history = nullptr);
    ~ViewerScreen() override;

    ViewerModel& model() { return *model_; }
    quarnkit::QuarnDocument* document() const { return document_; }
    Content content() const { return content_; }
    // True when the document can be shown: unlocked (or not locked), with a readable first page.
    bool documentReady() const;
    PageViewHost* pageViewHost() const { return pageViewHost_; }
    LockedGate* gate() const { return gate_; }
    // Runs on the worker before it tries the gate's password (tests hold it there).
    std::function<void()> unlockHook;
    StateMessage* message() const { return message_; }
    // The notice above the pages of a PDF with fillable fields.
    FormBanner* formsBanner() const { return formsBanner_; }
    // The bars of the document view; none in the locked, empty and unreadable states.
    FindBar* findBar() const { return findBar_; }
    StatusBar* statusBar() const { return statusBar_; }
    // The rail at the window's left edge, and the library column beside it.
    LibraryRail* rail() const { return rail_; }
    LibraryColumn* libraryColumn() const { return libraryColumn_; }

    // The file was saved under a new name or moved.
    void setFilePath(const QString& path);
    // The document behind the window was replaced (Revert); content is rebuilt.
    void setDocument(quarnkit::QuarnDocument* document);

    // Appear: the model gets the document and file and starts. Disappear:
    // the model stops. Each runs once; showing and destroying call them.
    void appear();
    void disappear();
    // Makes what the first page does not need (the library column's panel,
    // the sidebar's list, the inspector's parts): once the first page is
    // painted, or at once when called before. The columns keep their room
    // meanwhile.
    void fillIn();
    bool filledIn() const { return filledIn_; }

    // Opens every dropped PDF (droppedPdfs) as a window of its own; false
    // when the drop holds none (refused).
    bool openDroppedPdfs(const QMimeData* mime);

protected:
    void showEvent(QShowEvent* event) override;
    // Tab goes round the document view as it reads: the toolbar, the bars
    // under it, the rail, the side column, the pages, the inspector and the
    // status bar. Parts made later (the library panel, a sidebar tab's list)
    // take their place in that order whenever they were made.
    bool focusNextPrevChild(bool next) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Focus that lands on the chrome goes back to the pages, unless the user
    // tabbed there, or clicked or was sent to a field or list: heard for the
    // window's key presses and focus changes.
    void keepKeysOnThePages(QObject* watched, QEvent* event);
    // Ctrl+Tab (Ctrl+Shift+Tab) with the keys on the pages, whose Tab may
    // move among a form's fields: the focus goes on to the part after the
    // pages (before them), as for any control that takes Tab itself.
    // Elsewhere in the window it moves the focus as Tab (Shift+Tab) does.
    bool leavePages(const QKeyEvent* event);
    void rebuildContent();
    QWidget* makeToolbar();
    QWidget* makeDocumentView();
    QWidget* makeSideColumn(QWidget* parent);
    void updatePageTotal();
    void documentEdited();
    std::vector<QWidget*> tabStops() const;

    QPointer<quarnkit::QuarnDocument> document_;
    QString filePath_;
    ViewerModel* model_;
    quarnkit::HistoryLibrary* history_;
    LibraryRail* rail_ = nullptr;
    LibraryColumn* libraryColumn_ = nullptr;
    bool unlocked_ = false;
    bool tabbing_ = false; // a Tab, Shift+Tab or arrow of this window is being handled
    bool appeared_ = false;
    bool filledIn_ = false;
    bool disappeared_ = false;
    Content content_ = Content::document;

    QWidget* contentHost_ = nullptr;
    QWidget* current_ = nullptr;
    QWidget* toolbar_ = nullptr;
    QWidget* sideColumn_ = nullptr;
    PageViewHost* pageViewHost_ = nullptr;
    LockedGate* gate_ = nullptr;
    StateMessage* message_ = nullptr;
    ChromeToolButton* sidebarButton_ = nullptr;
    ChromeToolButton* findButton_ = nullptr;
    FormBanner* formsBanner_ = nullptr;
    InspectorPane* inspector_ = nullptr;
    SidebarPane* sidebar_ = nullptr;
    FindBar* findBar_ = nullptr;
    StatusBar* statusBar_ = nullptr;
};

} // namespace quarn
