// Find in the viewer: the window's find state over the document search. The
// search runs on a worker; its matches arrive here in batches, the first is
// shown the moment it is found, and the rest are handed to the page view at
// most every 0.12 s (longer for very large result sets) so that the pages are
// not redrawn for every match.
#include "Quarn/Viewer/ViewerModel.h"


#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Document/DocumentSearch.h"

#include <QTextBoundaryFinder>
#include <QTimer>

#include <algorithm>
#include <memory>

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

QColor ViewerModel::allMatchesColor()
{
    static const QColor color = QColor::fromRgbF(0.98f, 0.84f, 0.32f, 0.42f);
    return color;
}

QColor ViewerModel::currentMatchColor()
{
    static const QColor color = QColor::fromRgbF(1.0f, 0.56f, 0.12f, 0.72f);
    return color;
}

// The transient part of find: the engine, the matches held and the timers.
class ViewerModel::FindSession : public QObject {
public:
    explicit FindSession(ViewerModel* model) : QObject(model)
    {
        delay.setSingleShot(true);
        publish.setSingleShot(true);
    }

    // The engine for `document`; the same one while the document stays.
    DocumentSearch& finderFor(const quarnkit::QuarnDocument& document)
    {
        if (!finder || !finder->reads(document)) {
            finder.reset(); // cancels the old one
            finder = std::make_unique<DocumentSearch>(document);
        }
        return *finder;
    }

    void cancelFinder()
    {
        if (finder) finder->cancel();
    }

    std::unique_ptr<DocumentSearch> finder;
    std::vector<SearchMatch> matches;
    // One highlight per match, in the order of `matches`; the first
    // `colored` already carry the all-matches colour.
    std::vector<QuarnPDFView::Highlight> highlights;
    std::size_t colored = 0;
    std::optional<std::size_t> emphasized; // the match drawn in the current-match colour
    QString searchedQuery;                 // trimmed, of the last search started
    QString pendingQuery;                  // captured when a search was asked for
    quint64 epoch = 0;                     // the model's epoch when it was asked for
    QTimer delay;                          // the wait before a search; stopping it cancels the search
    QTimer publish;                        // the next publication of new matches
};

ViewerModel::FindSession& ViewerModel::findSession()
{
    if (!findSession_) {
        findSession_ = new FindSession(this);
        connect(&findSession_->delay, &QTimer::timeout, this, [this] {
            // A window that stopped meanwhile searches nothing.
            if (findSession_->epoch == epoch_) runSearch(findSession_->pendingQuery);
        });
        connect(&findSession_->publish, &QTimer::timeout, this, &ViewerModel::publishMatches);
    }
    return *findSession_;
}

const std::vector<SearchMatch>& ViewerModel::findMatches() const
{
    static const std::vector<SearchMatch> none;
    return findSession_ ? findSession_->matches : none;
}

void ViewerModel::setFindPosition(int index, int count)
{
    if (index == findIndex_ && count == findCount_) return;
    findIndex_ = index;
    findCount_ = count;
    emit findStateChanged();
    emit changed();
}

void ViewerModel::setFindSearching(bool searching)
{
    assign(findSearching_, searching, &ViewerModel::findSearchingChanged);
}

void ViewerModel::setFindMatchCase(bool on)
{
    if (!assign(findMatchCase_, on, &ViewerModel::findMatchCaseChanged)) return;
    if (findPresented_) startFind(0);
}

void ViewerModel::setFindWholeWords(bool on)
{
    if (!assign(findWholeWords_, on, &ViewerModel::findWholeWordsChanged)) return;
    if (findPresented_) startFind(0);
}

// ---------------------------------------------------------------- open and close

void ViewerModel::showFind()
{
    if (document_ && document_->isLocked()) return; // nothing to search yet
    // A short one-line selection becomes the query; a query already typed stays.
    if (findQuery_.isEmpty() && pdfView_) {
        const QString selected = QString::fromStdString(pdfView_->currentSelection().text).trimmed();
        if (!selected.isEmpty() && !selected.contains(QLatin1Char('\n')) && characterCount(selected) <= seedLimit)
            setFindQuery(selected);
    }
    assign(findPresented_, true, &ViewerModel::findPresentedChanged);
    assign(findToken_, findToken_ + 1, &ViewerModel::findTokenChanged);
}

void ViewerModel::closeFind()
{
    const bool wasShown = findPresented_;
    FindSession& session = findSession();
    assign(findPresented_, false, &ViewerModel::findPresentedChanged);
    setFindQuery({});
    setFindPosition(0, 0);
    session.matches.clear();
    session.highlights.clear();
    session.colored = 0;
    session.emphasized.reset();
    // After the query was emptied: its change asked for a search, which must not run.
    session.delay.stop();
    session.publish.stop();
    session.cancelFinder();
    setFindSearching(false);
    if (QuarnPDFView* view = pdfView_) {
        view->setHighlightedSelections({});
        view->clearSelection();
        if (wasShown && !view->hasFocus()) view->setFocus(Qt::OtherFocusReason);
    }
}

// ---------------------------------------------------------------- searching

void ViewerModel::startFind(int delayMs)
{
    FindSession& session = findSession();
    session.delay.stop();
    session.pendingQuery = findQuery_;
    session.epoch = epoch_;
    // Even without a delay the search runs on the next turn of the event loop,
    // so a burst of changes searches once.
    session.delay.start(std::max(0, delayMs));
}

void ViewerModel::runSearch(const QString& query)
{
    FindSession& session = findSession();
    const QString trimmed = query.trimmed();
    session.matches.clear();
    session.highlights.clear();
    session.colored = 0;
    session.emphasized.reset();
    session.publish.stop();
    session.searchedQuery = trimmed;
    setFindPosition(0, 0);
    if (pdfView_) pdfView_->setHighlightedSelections({});

    quarnkit::QuarnDocument* document = pdfView_ && pdfView_->quarnDocument() ? pdfView_->quarnDocument() : document_.data();
    if (!document || trimmed.isEmpty()) {
        session.cancelFinder();
        setFindSearching(false);
        return;
    }
    setFindSearching(true);
    const FindOptions options{findMatchCase_, findWholeWords_};
    const QPointer<ViewerModel> self(this);
    // Stopping the window (which raises the epoch) ends the search as well.
    const quint64 epoch = epoch_;
    const auto current = [self, epoch] {
        if (!self) return false;
        if (self->epoch_ == epoch) return true;
        self->findSession().cancelFinder();
        self->setFindSearching(false);
        return false;
    };
    session.finderFor(*document).start(
        trimmed, options,
        [self, current](const std::vector<SearchMatch>& batch) {
            if (current()) self->addMatches(batch);
        },
        [self, current] {
            if (current()) self->searchEnded();
        });
}

void ViewerModel::addMatches(const std::vector<SearchMatch>& batch)
{
    if (batch.empty()) return;
    FindSession& session = findSession();
    const bool first = session.matches.empty();
    session.matches.insert(session.matches.end(), batch.begin(), batch.end());
    for (const SearchMatch& match : batch) session.highlights.push_back({selectionOf(match), QColor()});
    if (first) {
        // The first match is shown at once, before the search ends.
        setFindPosition(0, findCount_);
        showCurrentMatch();
        return;
    }
    if (session.publish.isActive()) return;
    const std::size_t count = session.matches.size();
    const int delay = count < 2000 ? publishDelayMs : int(std::min<std::size_t>(1000, publishDelayMs * count / 2000));
    session.publish.start(delay);
}

void ViewerModel::searchEnded()
{
    setFindSearching(false);
    publishMatches();
}

void ViewerModel::colorPendingMatches()
{
    FindSession& session = findSession();
    for (std::size_t i = session.colored; i < session.highlights.size(); ++i)
        session.highlights[i].color = allMatchesColor();
    session.colored = session.highlights.size();
}

void ViewerModel::publishMatches()
{
    FindSession& session = findSession();
    session.publish.stop();
    colorPendingMatches();
    setFindPosition(findIndex_, int(session.matches.size()));
    if (pdfView_) pdfView_->setHighlightedSelections(session.highlights);
}

void ViewerModel::showCurrentMatch()
{
    FindSession& session = findSession();
    QuarnPDFView* view = pdfView_;
    if (findIndex_ < 0 || std::size_t(findIndex_) >= session.matches.size()) {
        if (view) view->setHighlightedSelections({});
        return;
    }
    colorPendingMatches();
    const std::size_t index = std::size_t(findIndex_);
    if (session.emphasized && *session.emphasized < session.highlights.size())
        session.highlights[*session.emphasized].color = allMatchesColor();
    session.highlights[index].color = currentMatchColor();
    session.emphasized = index;
    setFindPosition(findIndex_, int(session.matches.size()));
    if (!view) return;
    view->clearSelection();
    view->setHighlightedSelections(session.highlights);
    view->goToSelection(session.highlights[index].selection);
}

// ---------------------------------------------------------------- stepping

bool ViewerModel::searchAgainIfQueryChanged()
{
    FindSession& session = findSession();
    if (findSearching_ || findQuery_.trimmed() == session.searchedQuery) return false;
    session.delay.stop();
    runSearch(findQuery_);
    return true;
}

void ViewerModel::nextMatch()
{
    const std::size_t count = findSession().matches.size();
    // Stepping never divides by a count of zero: with nothing held, an edited
    // query is searched at once instead.
    if (count == 0) {
        searchAgainIfQueryChanged();
        return;
    }
    setFindPosition(int((std::size_t(std::max(findIndex_, 0)) + 1) % count), findCount_);
    showCurrentMatch();
}

void ViewerModel::previousMatch()
{
    const std::size_t count = findSession().matches.size();
    if (count == 0) {
        searchAgainIfQueryChanged();
        return;
    }
    setFindPosition(int((std::size_t(std::max(findIndex_, 0)) + count - 1) % count), findCount_);
    showCurrentMatch();
}

} // namespace quarn
