#pragma once
// The content of the welcome window: the application's mark with an Open
// button, a search over every PDF in the file index, a banner for the last
// problem, then the search's results, the recent PDFs as cards, or a drop box
// when nothing is recent; under them a row about the default PDF application.
// PDFs can be dropped anywhere on it. It keeps its recents and that row up to
// date as the window shows, the application becomes active and the history
// changes, and searches only while it has words and is on screen.
#include "Quarn/Design/Motion.h"
#include "Quarn/Explore/ExplorePanel.h"
#include "Quarn/Welcome/RecentThumbnails.h"
#include "QuarnKit/History/OpenProblem.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QLabel;
class QMimeData;
class QScrollArea;
class QSpacerItem;
class QStackedWidget;

namespace platform {
class UserDefaults;
}
namespace quarnkit {
class ExploreModel;
class HistoryLibrary;
} // namespace quarnkit

namespace quarn {

class CardGrid;
class DocumentController;
class DropBox;
class DropOverlay;
class LibraryNotice;
class LibrarySearchField;
class QuietButton;
class Spinner;
class UpdateController;
class VersionBadge;

// What the welcome window works with; the application's own by default.
struct WelcomeServices {
    quarnkit::HistoryLibrary* library = nullptr; // recents, opens, Clear
    DocumentController* documents = nullptr;     // the Open panel; its windows hide the welcome window
    RecentThumbnails* thumbnails = nullptr;
    platform::UserDefaults* defaults = nullptr; // where a refused default-app request is kept
    UpdateController* updates = nullptr;        // none: the footer shows the version alone
    std::function<void()> showUpdates;          // the Software Update window
    ExploreSourceMaker exploreSource;           // none: the file index

    static WelcomeServices application();
};

class WelcomeView : public QWidget {
    Q_OBJECT
public:
    static constexpr int contentWidth = 640;
    static constexpr int recentLimit = 8;
    static constexpr int resultsHeight = 396;

    explicit WelcomeView(WelcomeServices services, QWidget* parent = nullptr);
    ~WelcomeView() override;

    quarnkit::ExploreModel& search() const { return *search_; }
    LibrarySearchField* searchField() const { return field_; }
    const std::vector<RecentItem>& recents() const { return recents_; }
    CardGrid* recentCards() const { return recentCards_; }
    CardGrid* resultCards() const { return resultCards_; }
    QWidget* resultsSection() const { return resultsSection_; }
    DropBox* dropBox() const { return dropBox_; }
    const std::optional<quarnkit::OpenProblem>& problem() const { return problem_; }
    LibraryNotice* problemBanner() const { return banner_; }
    QuietButton* clearButton() const { return clear_; }
    QAbstractButton* useButton() const { return use_; }
    QLabel* statusLabel() const { return status_; }
    // Words in the search field (white space alone is none).
    bool isSearching() const { return searching_; }
    // A drag is over the view.
    bool isTargeted() const { return targeted_; }
    // The full-window "Drop to open" highlight: whether it is on screen, and
    // how far in it is drawn (0 … 1), easing in and out over 0.15 s.
    bool dropOverlayShown() const;
    double dropOverlayOpacity() const;

    // The default-app row, the recents (asked for in the background) and the
    // history setting read again.
    void refresh();
    // Opens the card's file, or says it is gone (and reloads the recents).
    void open(const RecentItem& item);
    // Return in the search field: the first result, when there is one.
    void openFirstResult();
    // Opens every PDF among dropped files; false when the drop holds no file.
    bool openDropped(const QMimeData* mime);
    void removeRecent(const RecentItem& item);
    // "Clear History" confirmed.
    void clearHistory();
    // "Use ravlen for PDFs": asks, then makes ravlen the default PDF application.
    void claimDefault();
    // The search field takes the keys.
    void focusSearch();
    // The first control, Open PDF, takes the keys: what the window holds
    // when it first shows.
    void focusFirst();
    QAbstractButton* openButton() const { return open_; }
    VersionBadge* versionBadge() const { return badge_; }
    // The window is shown again: refresh, and search again when there are words.
    void willShow();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeResultsSection();
    QWidget* makeRecentsSection();
    QWidget* makeFooter();
    void setProblem(std::optional<quarnkit::OpenProblem> problem);
    void setRecents(std::vector<RecentItem> recents);
    void setTargeted(bool targeted);
    void searchTextChanged();
    void showResults();
    void showSections();
    // Tab in reading order: Open PDF, the search, the banner, the cards shown
    // (results or recents with their Clear), then the footer.
    void orderTabs();
    // The full-window drop highlight: a drag over recents or results.
    bool overlayShown() const;

    WelcomeServices services_;
    quarnkit::ExploreModel* search_ = nullptr;
    std::vector<RecentItem> recents_;
    std::optional<quarnkit::OpenProblem> problem_;
    bool searching_ = false;
    bool targeted_ = false;
    bool isDefault_ = false;
    int refreshes_ = 0; // the latest refresh, whose answers alone are shown

    QWidget* main_ = nullptr;
    QAbstractButton* open_ = nullptr;
    LibrarySearchField* field_ = nullptr;
    QWidget* bannerRow_ = nullptr;
    LibraryNotice* banner_ = nullptr;
    QWidget* resultsSection_ = nullptr;
    Spinner* spinner_ = nullptr;
    QLabel* summary_ = nullptr;
    QStackedWidget* resultsArea_ = nullptr;
    ExploreEmptyView* resultsEmpty_ = nullptr;
    QScrollArea* resultsScroll_ = nullptr;
    CardGrid* resultCards_ = nullptr;
    QLabel* overflow_ = nullptr;
    DropBox* dropBox_ = nullptr;
    QWidget* recentsSection_ = nullptr;
    CardGrid* recentCards_ = nullptr;
    QuietButton* clear_ = nullptr;
    QLabel* defaultMark_ = nullptr;
    QLabel* status_ = nullptr;
    QAbstractButton* use_ = nullptr;
    QSpacerItem* badgeGap_ = nullptr;
    VersionBadge* badge_ = nullptr;
    DropOverlay* overlay_ = nullptr;
};

// The box that stands in for the recents when there are none: a drop target
// that lights up while a drag is over the window.
class DropBox : public QWidget {
    Q_OBJECT
public:
    explicit DropBox(QWidget* parent = nullptr);
    // Lights up, or goes out, easing over 0.15 s.
    void setTargeted(bool targeted);
    void setKeepHistory(bool on);
    QString hint() const;
    // How lit it is drawn now, 0 … 1.
    double lit() const { return lit_->value(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showLit();

    motion::Ease* lit_;
    bool targeted_ = false;
    QLabel* symbol_ = nullptr;
    QLabel* hint_ = nullptr;
};

} // namespace quarn
