#pragma once
// The Explore column of a document window: a search of every PDF in the
// file index, by name or contents, in one of the user's folders, ranked and
// sorted, with each result opened by a click, shown in its folder or its
// path copied. The panel is a view over the window's Explore model, which
// runs the searches; it binds the model's inputs, shows its state and opens
// files through the history library (a failure shows as a notice).
#include "Quarn/Design/AccessiblePopover.h"
#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/Explore/ExploreRequest.h"
#include "QuarnKit/Explore/ExploreSource.h"
#include "QuarnKit/History/OpenProblem.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QStackedLayout;

namespace quarnkit {
class ExploreModel;
class HistoryLibrary;
} // namespace quarnkit

namespace quarn {

class ChromeChip;
class ChromeMenuButton;
class ChromeSegmented;
class ExploreList;
class LibraryMessage;
class LibraryNotice;
class LibrarySearchField;
class LibraryThumbnails;
class Spinner;
class ViewerModel;

// Makes the search that a window's Explore model runs: none searches the file index.
using ExploreSourceMaker = std::function<std::unique_ptr<quarnkit::ExploreSource>()>;

// The window's own Explore model: made on first use (remembering its mode,
// location and sort in the window's settings) and kept as long as the
// window's viewer model.
quarnkit::ExploreModel& windowExplore(ViewerModel& model, const ExploreSourceMaker& source = {});

// What the result area says while it has no results: one message, following
// the model, and naming the search by contents only where it `offersContents`.
class ExploreEmptyView : public QWidget {
    Q_OBJECT
public:
    ExploreEmptyView(quarnkit::ExploreModel& explore, bool offersContents, QWidget* parent = nullptr);
    LibraryMessage* message() const { return message_; }

private:
    void refresh();
    quarnkit::ExploreModel& explore_;
    bool offersContents_;
    LibraryMessage* message_ = nullptr;
};

// The summary bar (with the sort menu when `showsSort`) over the result
// list, or over the empty state when there are no results.
class ExploreResults : public QWidget {
    Q_OBJECT
public:
    ExploreResults(quarnkit::ExploreModel& explore, bool showsSort, LibraryThumbnails& thumbnails,
                   QWidget* parent = nullptr);
    QLabel* summary() const { return summary_; }
    ChromeMenuButton* sortButton() const { return sort_; }
    ExploreList* list() const { return list_; }
    ExploreEmptyView* emptyView() const { return empty_; }

signals:
    void openRequested(const quarnkit::ExploreItem& item);
    void menuRequested(const quarnkit::ExploreItem& item, const QPoint& globalPos, MenuAsked asked);

private:
    void refresh();
    quarnkit::ExploreModel& explore_;
    QWidget* bar_ = nullptr;
    QLabel* summary_ = nullptr;
    ChromeMenuButton* sort_ = nullptr;
    QStackedLayout* body_ = nullptr;
    ExploreList* list_ = nullptr;
    ExploreEmptyView* empty_ = nullptr;
};

class ExplorePanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int columnWidth = 272;

    // `model` is the window's (a focus request for Explore puts the keys in
    // the search field); it may be null. Files open through `library`. The
    // pictures come from `thumbnails`, the application's when none is given.
    ExplorePanel(quarnkit::ExploreModel& explore, ViewerModel* model, quarnkit::HistoryLibrary& library,
                 QWidget* parent = nullptr, LibraryThumbnails* thumbnails = nullptr);

    quarnkit::ExploreModel& explore() const { return explore_; }
    LibrarySearchField* searchField() const { return search_; }
    ChromeSegmented* modeControl() const { return mode_; }
    ChromeChip* chip(quarnkit::ExploreLocation location) const;
    LibraryNotice* notice() const { return notice_; }
    ExploreResults* results() const { return results_; }
    // Opens a result as a click on its row does.
    void openItem(const quarnkit::ExploreItem& item);
    // Shows the file in its folder; the banner says when nothing could.
    void reveal(const QString& path);
    // Shows the row menu (Open, Show in Folder, Copy Path).
    void showMenu(const quarnkit::ExploreItem& item, const QPoint& globalPos, MenuAsked asked);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showChoices();
    void takeFocusRequest();
    void showProblem(const std::optional<quarnkit::OpenProblem>& problem);

    quarnkit::ExploreModel& explore_;
    QPointer<ViewerModel> viewer_;
    quarnkit::HistoryLibrary& library_;
    Spinner* spinner_ = nullptr;
    LibrarySearchField* search_ = nullptr;
    ChromeSegmented* mode_ = nullptr;
    std::vector<ChromeChip*> chips_;
    LibraryNotice* notice_ = nullptr;
    QWidget* noticeRow_ = nullptr;
    ExploreResults* results_ = nullptr;
};

} // namespace quarn
