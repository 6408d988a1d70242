#pragma once
// The model behind every search field of the file index (a window's Explore
// panel, the welcome window): what the user typed and chose, the results
// and a status. Typing searches once the user pauses (0.18 s); a new choice
// searches on the next turn of the event loop. Lives on the UI thread; the
// source does its work elsewhere and reports back here, so the UI thread
// never waits for the index.
#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/Explore/ExploreRequest.h"
#include "QuarnKit/Explore/ExploreSource.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

class ExploreModel : public QObject {
    Q_OBJECT
public:
    enum class Status {
        idle,       // nothing searched yet
        searching,  // a search runs and its results are not complete
        ready,      // the shown results are complete
        unavailable // the index could not run the search
    };
    static constexpr int typingDelayMs = 180;

    inline static const char* const modeKey = "ravlenExploreMode";
    inline static const char* const locationKey = "ravlenExploreLocation";
    inline static const char* const sortKey = "ravlenExploreSort";

    // Without a source the model searches the file index (and its first
    // search starts the application's indexer if it is not running yet). With `remembers`
    // the mode, location and sort are restored from `defaults` and saved
    // there on every change.
    ExploreModel(std::unique_ptr<ExploreSource> source, bool remembers, platform::UserDefaults& defaults,
                 QObject* parent = nullptr);
    ~ExploreModel() override;

    const QString& text() const { return text_; }
    ExploreMode mode() const { return mode_; }
    ExploreLocation location() const { return location_; }
    ExploreSort sort() const { return sort_; }
    void setText(const QString& text);
    void setMode(ExploreMode mode);
    void setLocation(ExploreLocation location);
    void setSort(ExploreSort sort);
    // The request of the current text and choices.
    ExploreRequest request() const;

    const std::vector<ExploreItem>& items() const { return items_; }
    std::int64_t total() const { return total_; }
    bool finished() const { return finished_; }
    Status status() const { return status_; }
    // The request whose results are shown.
    const ExploreRequest& shown() const { return shown_; }
    // Whether the index holds any PDF at all; none until asked.
    std::optional<bool> indexHasPDFs() const { return indexHasPDFs_; }
    // Why the index reads no PDF, as the last search found.
    platform::MetadataIndexProblem indexProblem() const { return indexProblem_; }

    // The views show the results: search now. Nothing when active already.
    void activate();
    // The views no longer show them: the search stops, the results stay.
    void deactivate();
    bool isActive() const { return active_; }

    // "Recently opened", "Searching…", "12 PDFs", or empty when unavailable.
    QString summaryLine() const;
    // "Showing 300 of 1,234. Refine the search to see more." or none; after
    // the results of a cut search, the request's cut sentence as well.
    std::optional<QString> overflowLine() const;

signals:
    void textChanged();
    void choicesChanged(); // mode, location or sort
    void resultsChanged(); // items, total, finished or shown
    void statusChanged();
    void indexHasPDFsChanged(); // or indexProblem

private:
    void schedule(int delayMs);
    void search();
    void receive(const ExploreSnapshot& snapshot, const ExploreRequest& request);
    void choiceChanged();
    void setStatus(Status status);
    void setIndexHasPDFs(bool any);
    void setResults(std::vector<ExploreItem> items, std::int64_t total, bool finished, const ExploreRequest& shown);

    std::unique_ptr<ExploreSource> source_;
    bool searchesIndex_ = false; // the application's file index, not a given source
    const bool remembers_;
    platform::UserDefaults& defaults_;

    QString text_;
    ExploreMode mode_ = ExploreMode::names;
    ExploreLocation location_ = ExploreLocation::all;
    ExploreSort sort_ = ExploreSort::lastOpened;
    std::vector<ExploreItem> items_;
    std::int64_t total_ = 0;
    bool finished_ = false;
    Status status_ = Status::idle;
    ExploreRequest shown_;
    std::optional<bool> indexHasPDFs_;
    platform::MetadataIndexProblem indexProblem_ = platform::MetadataIndexProblem::none;

    bool active_ = false;
    bool probing_ = false;
    QTimer pending_;
};

} // namespace quarnkit
