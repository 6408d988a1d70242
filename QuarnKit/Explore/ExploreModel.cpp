#include "QuarnKit/Explore/ExploreModel.h"

#include "Platform/UserDefaults.h"
#include "QuarnKit/Explore/ExploreIndex.h"
#include "QuarnKit/Explore/ExploreRanking.h"
#include "QuarnKit/History/LibraryTexts.h"

#include <QLocale>

namespace quarnkit {

namespace {

template <typename T>
T restored(const platform::UserDefaults& defaults, const char* key, std::optional<T> (*named)(const QString&),
           T fallback)
{
    const std::optional<std::string> stored = defaults.stringValue(key);
    if (!stored) return fallback;
    return named(QString::fromStdString(*stored)).value_or(fallback);
}

} // namespace

ExploreModel::ExploreModel(std::unique_ptr<ExploreSource> source, bool remembers, platform::UserDefaults& defaults,
                           QObject* parent)
    : QObject(parent), source_(std::move(source)), remembers_(remembers), defaults_(defaults)
{
    if (!source_) {
        source_ = std::make_unique<IndexSearch>(ExploreIndex::searchSettings());
        searchesIndex_ = true;
    }
    if (remembers_) {
        mode_ = restored(defaults_, modeKey, exploreModeNamed, ExploreMode::names);
        location_ = restored(defaults_, locationKey, exploreLocationNamed, ExploreLocation::all);
        sort_ = restored(defaults_, sortKey, exploreSortNamed, ExploreSort::lastOpened);
    }
    pending_.setSingleShot(true);
    pending_.setTimerType(Qt::PreciseTimer);
    connect(&pending_, &QTimer::timeout, this, [this] { search(); });
}

ExploreModel::~ExploreModel()
{
    pending_.stop();
    source_->stop();
}

ExploreRequest ExploreModel::request() const { return {text_, mode_, location_, sort_}; }

void ExploreModel::setText(const QString& text)
{
    if (text == text_) return;
    text_ = text;
    emit textChanged();
    schedule(typingDelayMs);
}

void ExploreModel::setMode(ExploreMode mode)
{
    if (mode == mode_) return;
    mode_ = mode;
    choiceChanged();
}

void ExploreModel::setLocation(ExploreLocation location)
{
    if (location == location_) return;
    location_ = location;
    choiceChanged();
}

void ExploreModel::setSort(ExploreSort sort)
{
    if (sort == sort_) return;
    sort_ = sort;
    choiceChanged();
}

void ExploreModel::choiceChanged()
{
    if (remembers_) {
        defaults_.set(modeKey, name(mode_).toStdString());
        defaults_.set(locationKey, name(location_).toStdString());
        defaults_.set(sortKey, name(sort_).toStdString());
    }
    emit choicesChanged();
    // On the next turn, in place of any typing still waiting.
    schedule(0);
}

void ExploreModel::activate()
{
    if (active_) return;
    active_ = true;
    search();
}

void ExploreModel::deactivate()
{
    active_ = false;
    pending_.stop();
    source_->stop();
}

void ExploreModel::schedule(int delayMs)
{
    // A change made while inactive is searched at the next activation.
    if (!active_) return;
    pending_.start(delayMs);
}

void ExploreModel::search()
{
    if (!active_) return;
    pending_.stop();
    // A search before the application started the indexer starts it; a
    // model made early (the welcome window's, at launch) waits until then.
    if (searchesIndex_) ExploreIndex::indexer().start();
    const ExploreRequest r = request();
    setStatus(Status::searching);
    if (finished_) {
        // The previous results stay on show until the first snapshot of this search.
        finished_ = false;
        emit resultsChanged();
    }
    source_->start(r, [this, r](const ExploreSnapshot& snapshot) { receive(snapshot, r); });
}

void ExploreModel::receive(const ExploreSnapshot& snapshot, const ExploreRequest& request)
{
    if (!active_) return;
    if (snapshot.unavailable) {
        setResults({}, 0, true, request);
        setStatus(Status::unavailable);
        return;
    }
    setResults(snapshot.items, snapshot.total, snapshot.finished, request);
    setStatus(snapshot.finished ? Status::ready : Status::searching);
    if (snapshot.problem != indexProblem_) {
        indexProblem_ = snapshot.problem;
        emit indexHasPDFsChanged();
    }
    // Whether an empty result means an empty index. A yes is kept; a no is
    // asked again after a later empty search, as the index fills in the
    // background (it is new at first launch). Never two questions at once.
    if (snapshot.total > 0) {
        setIndexHasPDFs(true);
    } else if (snapshot.finished && indexHasPDFs_ != true && !probing_) {
        probing_ = true;
        source_->probe([this](bool any) {
            probing_ = false;
            if (indexHasPDFs_ != true) setIndexHasPDFs(any);
        });
    }
}

void ExploreModel::setIndexHasPDFs(bool any)
{
    if (indexHasPDFs_ == any) return;
    indexHasPDFs_ = any;
    emit indexHasPDFsChanged();
}

void ExploreModel::setStatus(Status status)
{
    if (status == status_) return;
    status_ = status;
    emit statusChanged();
}

void ExploreModel::setResults(std::vector<ExploreItem> items, std::int64_t total, bool finished,
                              const ExploreRequest& shown)
{
    if (items == items_ && total == total_ && finished == finished_ && shown == shown_) return;
    items_ = std::move(items);
    total_ = total;
    finished_ = finished;
    shown_ = shown;
    emit resultsChanged();
}

QString ExploreModel::summaryLine() const
{
    if (status_ == Status::unavailable) return QString();
    if (shown_.isRecents()) return tr("Recently opened");
    if (!finished_ && items_.empty()) return tr("Searching…");
    return LibraryFormat::pdfCount(total_, QLocale());
}

std::optional<QString> ExploreModel::overflowLine() const
{
    std::optional<QString> line = ExploreSummary::overflow(std::int64_t(items_.size()), total_, QLocale());
    // A cut search says so under its results (with none, the empty state does).
    if (shown_.isCut() && !items_.empty())
        line = line ? *line + QLatin1Char(' ') + ExploreRequest::cutSentence() : ExploreRequest::cutSentence();
    return line;
}

} // namespace quarnkit
