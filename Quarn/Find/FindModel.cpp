#include "Quarn/Find/FindModel.h"

#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace quarn {

using quarnkit::DocumentSearch;
using quarnkit::FindOptions;
using quarnkit::PageSelection;
using quarnkit::SearchMatch;

namespace {

// A selection longer than this does not seed the find field.
constexpr int seedLimit = 80;

// The number of user-perceived characters of a text.
int characterCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int count = 0;
    while (finder.toNextBoundary() >= 0) ++count;
    return count;
}

PageSelection selectionOf(const SearchMatch& match)
{
    PageSelection selection;
    selection.pieces.push_back({match.page, match.quads});
    selection.text = match.text.toStdString();
    return selection;
}

} // namespace

QColor FindModel::allMatchesColor()
{
    static const QColor color = QColor::fromRgbF(0.98f, 0.84f, 0.32f, 0.42f);
    return color;
}

QColor FindModel::currentMatchColor()
{
    static const QColor color = QColor::fromRgbF(1.0f, 0.56f, 0.12f, 0.72f);
    return color;
}

FindModel& FindModel::of(ViewerModel& viewer)
{
    if (auto* find = viewer.findChild<FindModel*>(QString(), Qt::FindDirectChildrenOnly)) return *find;
    return *new FindModel(viewer);
}

FindModel::FindModel(ViewerModel& viewer) : QObject(&viewer), viewer_(viewer)
{
    delay_.setSingleShot(true);
    publish_.setSingleShot(true);
    connect(&delay_, &QTimer::timeout, this, [this] {
        // A window that stopped meanwhile searches nothing.
        if (pendingEpoch_ == epoch_) runSearch(pendingQuery_);
    });
    connect(&publish_, &QTimer::timeout, this, &FindModel::publishMatches);
    connect(&viewer, &ViewerModel::stopped, this, &FindModel::stop);
    // Pages that moved change what the matches point at.
    connect(&viewer, &ViewerModel::pagesMoved, this, [this] {
        if (presented_ && !query_.trimmed().isEmpty()) start(refindAfterEditMs);
    });
}

template <typename T, typename Signal>
bool FindModel::assign(T& field, const T& value, Signal signal)
{
    if (field == value) return false;
    field = value;
    emit(this->*signal)(value);
    emit changed();
    return true;
}

void FindModel::setQuery(const QString& query) { assign(query_, query, &FindModel::queryChanged); }

void FindModel::setPosition(int index, int count)
{
    if (index == index_ && count == count_) return;
    index_ = index;
    count_ = count;
    emit stateChanged();
    emit changed();
}

void FindModel::setSearching(bool searching) { assign(searching_, searching, &FindModel::searchingChanged); }

void FindModel::setMatchCase(bool on)
{
    if (!assign(matchCase_, on, &FindModel::matchCaseChanged)) return;
    if (presented_) start(0);
}

void FindModel::setWholeWords(bool on)
{
    if (!assign(wholeWords_, on, &FindModel::wholeWordsChanged)) return;
    if (presented_) start(0);
}

// ---------------------------------------------------------------- open and close

void FindModel::show()
{
    const quarnkit::QuarnDocument* document = viewer_.document();
    if (document && document->isLocked()) return; // nothing to search yet
    // A short one-line selection becomes the query; a query already typed stays.
    if (query_.isEmpty()) {
        const QString selected = selectedText ? selectedText().trimmed() : QString();
        if (!selected.isEmpty() && !selected.contains(QLatin1Char('\n')) && characterCount(selected) <= seedLimit)
            setQuery(selected);
    }
    assign(presented_, true, &FindModel::presentedChanged);
    assign(token_, token_ + 1, &FindModel::tokenChanged);
}

void FindModel::close()
{
    const bool wasShown = presented_;
    assign(presented_, false, &FindModel::presentedChanged);
    setQuery({});
    setPosition(0, 0);
    matches_.clear();
    highlights_.clear();
    colored_ = 0;
    emphasized_.reset();
    // After the query was emptied: its change asked for a search, which must not run.
    delay_.stop();
    publish_.stop();
    cancelSearch();
    setSearching(false);
    emit closed(wasShown);
}

void FindModel::stop()
{
    ++epoch_; // every search asked for or running so far does nothing when it comes
    if (presented_ || !query_.isEmpty()) close();
}

void FindModel::cancelSearch()
{
    if (finder_) finder_->cancel();
}

// ---------------------------------------------------------------- searching

void FindModel::start(int delayMs)
{
    delay_.stop();
    pendingQuery_ = query_;
    pendingEpoch_ = epoch_;
    // Even without a delay the search runs on the next turn of the event loop,
    // so a burst of changes searches once.
    delay_.start(std::max(0, delayMs));
}

void FindModel::runSearch(const QString& query)
{
    const QString trimmed = query.trimmed();
    matches_.clear();
    highlights_.clear();
    colored_ = 0;
    emphasized_.reset();
    publish_.stop();
    searchedQuery_ = trimmed;
    setPosition(0, 0);
    emit highlightsChanged({});

    quarnkit::QuarnDocument* document = shownDocument ? shownDocument() : nullptr;
    if (!document) document = viewer_.document();
    if (!document || trimmed.isEmpty()) {
        cancelSearch();
        setSearching(false);
        return;
    }
    setSearching(true);
    // The engine for the document; the same one while the document stays.
    if (!finder_ || !finder_->reads(*document)) {
        finder_.reset(); // cancels the old one
        finder_ = std::make_unique<DocumentSearch>(*document);
    }
    const FindOptions options{matchCase_, wholeWords_};
    const QPointer<FindModel> self(this);
    // Stopping the window (which raises the epoch) ends the search as well.
    const quint64 epoch = epoch_;
    const auto current = [self, epoch] {
        if (!self) return false;
        if (self->epoch_ == epoch) return true;
        self->cancelSearch();
        self->setSearching(false);
        return false;
    };
    finder_->start(
        trimmed, options,
        [self, current](const std::vector<SearchMatch>& batch) {
            if (current()) self->addMatches(batch);
        },
        [self, current] {
            if (current()) self->searchEnded();
        });
}

void FindModel::addMatches(const std::vector<SearchMatch>& batch)
{
    if (batch.empty()) return;
    const bool first = matches_.empty();
    matches_.insert(matches_.end(), batch.begin(), batch.end());
    for (const SearchMatch& match : batch) highlights_.push_back({selectionOf(match), QColor()});
    if (first) {
        // The first match is shown at once, before the search ends.
        setPosition(0, count_);
        showCurrentMatch();
        return;
    }
    if (publish_.isActive()) return;
    const std::size_t count = matches_.size();
    const int delay = count < 2000 ? publishDelayMs : int(std::min<std::size_t>(1000, publishDelayMs * count / 2000));
    publish_.start(delay);
}

void FindModel::searchEnded()
{
    setSearching(false);
    publishMatches();
}

void FindModel::colorPendingMatches()
{
    for (std::size_t i = colored_; i < highlights_.size(); ++i) highlights_[i].color = allMatchesColor();
    colored_ = highlights_.size();
}

void FindModel::publishMatches()
{
    publish_.stop();
    colorPendingMatches();
    setPosition(index_, int(matches_.size()));
    emit highlightsChanged(highlights_);
}

void FindModel::showCurrentMatch()
{
    if (index_ < 0 || std::size_t(index_) >= matches_.size()) {
        emit highlightsChanged({});
        return;
    }
    colorPendingMatches();
    const std::size_t index = std::size_t(index_);
    if (emphasized_ && *emphasized_ < highlights_.size()) highlights_[*emphasized_].color = allMatchesColor();
    highlights_[index].color = currentMatchColor();
    emphasized_ = index;
    setPosition(index_, int(matches_.size()));
    emit matchShown(highlights_[index].selection);
}

// ---------------------------------------------------------------- stepping

bool FindModel::searchAgainIfQueryChanged()
{
    if (searching_ || query_.trimmed() == searchedQuery_) return false;
    delay_.stop();
    runSearch(query_);
    return true;
}

void FindModel::nextMatch()
{
    const std::size_t count = matches_.size();
    // Stepping never divides by a count of zero: with nothing held, an edited
    // query is searched at once instead.
    if (count == 0) {
        searchAgainIfQueryChanged();
        return;
    }
    setPosition(int((std::size_t(std::max(index_, 0)) + 1) % count), count_);
    showCurrentMatch();
}

void FindModel::previousMatch()
{
    const std::size_t count = matches_.size();
    if (count == 0) {
        searchAgainIfQueryChanged();
        return;
    }
    setPosition(int((std::size_t(std::max(index_, 0)) + count - 1) % count), count_);
    showCurrentMatch();
}

} // namespace quarn
