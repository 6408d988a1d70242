#pragma once
// The History column of a document window: the PDFs opened before, grouped
// by how recently each was opened, a search over their titles, names and
// folders, the file that this window shows marked, files found gone dimmed
// with ways to locate or remove them, and Clear History (asked first). The
// panel holds only view state; the entries, their file states and every
// change belong to the history library.
#include "Quarn/Design/AccessiblePopover.h"
#include "QuarnKit/History/HistoryLibrary.h"
#include "QuarnKit/History/LibraryCalendar.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QStackedLayout;

namespace quarn {

class HistoryList;
class HistoryListModel;
class LibraryMessage;
class LibraryNotice;
class LibrarySearchField;
class LibraryThumbnails;
class QuietButton;
class ViewerModel;

class HistoryPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int columnWidth = 272;

    // `model` is the window's (its file is marked; a focus request for
    // History puts the keys in the search field); it may be null. The
    // pictures come from `thumbnails`, the application's when none is given.
    HistoryPanel(quarnkit::HistoryLibrary& library, ViewerModel* model, QWidget* parent = nullptr,
                 LibraryThumbnails* thumbnails = nullptr);
    ~HistoryPanel() override;

    // The date the entries are grouped against comes from `clock`, read when
    // the panel comes on screen and when a day begins (tests set both).
    void setClock(std::function<QDateTime()> clock, const quarnkit::LibraryCalendar& calendar);
    // How Locate asks for the file: the Open panel by default (tests answer themselves).
    std::function<void(const quarnkit::HistoryEntry& entry, QWidget* window)> locate;

    LibrarySearchField* searchField() const { return search_; }
    HistoryList* list() const { return list_; }
    HistoryListModel* listModel() const { return model_; }
    // The banner of the last problem, hidden when there is none.
    LibraryNotice* notice() const { return notice_; }
    // The message shown in place of the list; none while the list shows.
    LibraryMessage* message() const { return message_; }
    QLabel* footerCount() const { return footerCount_; }
    QuietButton* clearButton() const { return clear_; }
    // Opens an entry as a click on its row does.
    void openEntry(const quarnkit::HistoryEntry& entry);
    // Shows the row menu (Locate…/Open, Show in Folder, Copy Path, Remove from History).
    void showMenu(const quarnkit::HistoryEntry& entry, const QPoint& globalPos, MenuAsked asked);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void takeFocusRequest();
    void showProblem(const std::optional<quarnkit::OpenProblem>& problem);
    void locateEntry(const quarnkit::HistoryEntry& entry);
    // Shows the file in its folder; the banner says when nothing could.
    void reveal(const QString& path);
    void askToClear();
    void scheduleDayChange();
    void regroup();

    quarnkit::HistoryLibrary& library_;
    QPointer<ViewerModel> viewer_;
    LibraryThumbnails& thumbnails_;
    std::function<QDateTime()> clock_;
    quarnkit::LibraryCalendar calendar_;
    QTimer dayChange_;

    LibrarySearchField* search_ = nullptr;
    QWidget* searchRow_ = nullptr;
    LibraryNotice* notice_ = nullptr;
    QWidget* noticeRow_ = nullptr;
    QStackedLayout* content_ = nullptr;
    HistoryListModel* model_ = nullptr;
    HistoryList* list_ = nullptr;
    LibraryMessage* message_ = nullptr;
    QWidget* footer_ = nullptr;
    QLabel* footerCount_ = nullptr;
    QuietButton* clear_ = nullptr;
};

// "Clear your history?", window-modal on `window`; `clear` runs when the user
// chooses Clear History, nothing on Cancel.
void askToClearHistory(QWidget* window, std::function<void()> clear);

// Asks for a missing entry's file with the Open panel, starting in the
// nearest folder of its old path that still exists (found off the UI
// thread), and points the entry at the file chosen.
void locateWithOpenPanel(quarnkit::HistoryLibrary& library, const quarnkit::HistoryEntry& entry, QWidget* window);

} // namespace quarn
