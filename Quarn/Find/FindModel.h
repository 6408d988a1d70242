#pragma once
// Find in one document window: the query and its options, whether the find
// bar shows, the matches held and the current one. The search runs on a
// worker (QuarnKit's DocumentSearch); its matches arrive here in batches, the
// first is shown the moment it is found, and the rest are published at most
// every 0.12 s (longer for very large result sets) so that the pages are not
// redrawn for every match. The model knows no view: the page view subscribes
// to it (FindOnPages.h).
#include "Quarn/Viewer/TextSelection.h"
#include "QuarnKit/Document/DocumentSearch.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quarn {

class ViewerModel;

class FindModel : public QObject {
    Q_OBJECT

public:
    // The find of the window whose viewer is `viewer`: made on first use, a
    // child of the viewer model. Stopping the viewer ends any search.
    static FindModel& of(ViewerModel& viewer);

    bool presented() const { return presented_; }
    const QString& query() const { return query_; }
    void setQuery(const QString& query);
    // The current match (0-based) and the number of matches held.
    int index() const { return index_; }
    int count() const { return count_; }
    // Raised each time find is asked for, so that the bar takes the keyboard again.
    int token() const { return token_; }
    // Shows the bar; a short one-line text selected on the page becomes the query.
    void show();
    // Hides the bar, forgets the query and the matches, and stops searching.
    void close();
    void previousMatch();
    void nextMatch();
    // Starts a search `delayMs` from now, in place of any search still waiting.
    void start(int delayMs);
    bool matchCase() const { return matchCase_; }
    bool wholeWords() const { return wholeWords_; }
    bool searching() const { return searching_; }
    // Whether a search asked for has yet to begin (it waits for the typing pause or the next turn).
    bool searchPending() const { return delay_.isActive(); }
    // Set an option; while the find bar is shown the search runs again at once.
    void setMatchCase(bool on);
    void setWholeWords(bool on);
    // The matches held, in page order (those found so far while searching).
    const std::vector<quarnkit::SearchMatch>& matches() const { return matches_; }
    // Every match as the page view draws it, the current one in its own colour.
    const std::vector<PageHighlight>& highlights() const { return highlights_; }
    // Set by the page view's side: the text selected on the page, which
    // show() may take as the query, and the document the page view shows,
    // which is the one searched (else the window's).
    std::function<QString()> selectedText;
    std::function<quarnkit::QuarnDocument*()> shownDocument;

    // The highlight of every match and that of the current one.
    static QColor allMatchesColor();
    static QColor currentMatchColor();
    // New matches reach the page view at most this often.
    static constexpr int publishDelayMs = 120;
    // After pages moved, the query is searched again this much later.
    static constexpr int refindAfterEditMs = 300;

signals:
    void presentedChanged(bool presented);
    void queryChanged(const QString& query);
    void stateChanged(); // the index or the count
    void tokenChanged(int token);
    void matchCaseChanged(bool on);
    void wholeWordsChanged(bool on);
    void searchingChanged(bool searching);
    // For the page view: the highlights to draw now; a match is to be shown
    // (with highlights()) and brought into view; find closed (after being
    // shown, when `wasShown`).
    void highlightsChanged(const std::vector<PageHighlight>& shown);
    void matchShown(const quarnkit::PageSelection& match);
    void closed(bool wasShown);
    // Any of the above.
    void changed();

private:
    explicit FindModel(ViewerModel& viewer);
    void setPosition(int index, int count);
    void setSearching(bool searching);
    void runSearch(const QString& query);
    void addMatches(const std::vector<quarnkit::SearchMatch>& batch);
    void searchEnded();
    void colorPendingMatches();
    void publishMatches();
    void showCurrentMatch();
    bool searchAgainIfQueryChanged();
    void cancelSearch();
    // Ends everything under way: the window stopped.
    void stop();
    template <typename T, typename Signal>
    bool assign(T& field, const T& value, Signal signal);

    ViewerModel& viewer_;
    bool presented_ = false;
    QString query_;
    int index_ = 0;
    int count_ = 0;
    int token_ = 0;
    bool matchCase_ = false;
    bool wholeWords_ = false;
    bool searching_ = false;

    std::unique_ptr<quarnkit::DocumentSearch> finder_;
    std::vector<quarnkit::SearchMatch> matches_;
    // One highlight per match, in the order of `matches_`; the first
    // `colored_` already carry the all-matches colour.
    std::vector<PageHighlight> highlights_;
    std::size_t colored_ = 0;
    std::optional<std::size_t> emphasized_; // the match drawn in the current-match colour
    QString searchedQuery_;                 // trimmed, of the last search started
    QString pendingQuery_;                  // captured when a search was asked for
    quint64 epoch_ = 0;                     // raised when the window stops: older work does nothing
    quint64 pendingEpoch_ = 0;              // the epoch when the pending search was asked for
    QTimer delay_;                          // the wait before a search; stopping it cancels the search
    QTimer publish_;                        // the next publication of new matches
};

} // namespace quarn
