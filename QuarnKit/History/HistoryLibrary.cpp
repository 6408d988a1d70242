#include "QuarnKit/History/HistoryLibrary.h"

#include "Platform/UserDefaults.h"
#include "QuarnKit/Document/DocumentEngine.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/History/HistoryGrouping.h"
#include "QuarnKit/History/LibraryTexts.h"
#include "QuarnKit/History/RecentFiles.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>

#include <algorithm>

namespace quarnkit {

namespace {

HistoryLibrary* sharedLibrary = nullptr;

std::optional<QString> sensibleTitle(const QuarnDocument& document, const QString& path)
{
    std::optional<QString> raw;
    if (const auto title = pdfOf(document)->infoString("Title")) raw = QString::fromStdString(*title);
    return DocumentTitle::sensible(raw, QFileInfo(path).fileName());
}

} // namespace

template <typename Work, typename Done>
void HistoryLibrary::runOff(QThreadPool& pool, Work work, Done done, int priority)
{
    pool.start(
        [guard = QPointer<HistoryLibrary>(this), work = std::move(work), done = std::move(done)]() mutable {
            auto result = work();
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [guard, done = std::move(done), result = std::move(result)]() mutable {
                    if (guard) done(*guard, std::move(result));
                },
                Qt::QueuedConnection);
        },
        priority);
}

HistoryLibrary::HistoryLibrary(std::unique_ptr<HistoryStore> store, ReadingPositionStore& positions,
                               platform::UserDefaults& defaults, std::optional<QString> recentsToImport,
                               QObject* parent)
    : QObject(parent), store_(std::move(store)), positions_(positions), defaults_(defaults)
{
    resolver_.setMaxThreadCount(1);
    if (recentsToImport) importRecents(*recentsToImport);
    entries_ = store_->entries();
    // Back in the application, files may have come or gone meanwhile.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive) recheck();
        });
}

HistoryLibrary::~HistoryLibrary()
{
    // Checks not started are dropped; one running reports to nobody (its guard is gone).
    resolver_.clear();
    resolver_.waitForDone();
}

HistoryLibrary& HistoryLibrary::shared()
{
    if (!sharedLibrary) {
        HistoryStore::Options options;
        options.limit = sharedLimit;
        sharedLibrary = new HistoryLibrary(
            std::make_unique<HistoryStore>(HistoryStore::defaultDirectory(), std::move(options)),
            ReadingPositionStore::shared(), platform::UserDefaults::standard(), RecentFiles::defaultXbelPath());
    }
    return *sharedLibrary;
}

void HistoryLibrary::flushShared()
{
    if (sharedLibrary) sharedLibrary->store().flush();
}

QThreadPool& HistoryLibrary::userOpens()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(8);
        return p;
    }();
    return *pool;
}

std::optional<HistoryFileState> HistoryLibrary::state(const QUuid& id) const
{
    const auto found = states_.find(id);
    if (found == states_.end()) return std::nullopt;
    return found->second;
}

bool HistoryLibrary::keepHistory() const { return HistoryPreferences::keepHistory(defaults_); }

void HistoryLibrary::setKeepHistory(bool on)
{
    const bool before = keepHistory();
    defaults_.set(HistoryPreferences::keepHistoryKey, on);
    if (before != on) emit keepHistoryChanged(on);
}

void HistoryLibrary::republish()
{
    // An unchanged history redraws nothing.
    if (store_->entries() == entries_) return;
    entries_ = store_->entries();
    emit entriesChanged();
}

// ---------------------------------------------------------------- the viewer's calls

void HistoryLibrary::recordOpen(const QString& path, const QuarnDocument* document)
{
    if (path.isEmpty() || !keepHistory()) return;
    std::optional<QString> title;
    std::optional<std::int64_t> pageCount;
    if (document && !document->isLocked()) {
        title = sensibleTitle(*document, path);
        pageCount = document->pageCount();
    }
    if (const auto entry = store_->record(path, title, pageCount)) checked_.erase(entry->id);
    republish();
}

void HistoryLibrary::documentMoved(const QString& from, const QString& to)
{
    if (to.isEmpty() || !keepHistory()) return;
    const auto entry = from.isEmpty() ? std::nullopt : store_->entryForPath(from);
    if (entry) {
        store_->relocate(entry->id, to);
        checked_.erase(entry->id);
    } else {
        store_->record(to);
    }
    republish();
}

void HistoryLibrary::updatePageCount(int count, const QString& path)
{
    if (path.isEmpty() || count < 1 || !keepHistory()) return;
    store_->updateDetails(path, std::nullopt, count);
    republish();
}

void HistoryLibrary::refreshDetails(const QString& path, const QuarnDocument& document)
{
    if (path.isEmpty() || !keepHistory() || document.isLocked()) return;
    // A title not worth showing is passed as none, which keeps a stored one.
    store_->updateDetails(path, sensibleTitle(document, path), document.pageCount());
    republish();
}

// ---------------------------------------------------------------- the panels' calls

void HistoryLibrary::remove(const QUuid& id)
{
    store_->remove(id);
    if (states_.erase(id) > 0) emit statesChanged();
    republish();
}

void HistoryLibrary::clearAll()
{
    store_->removeAll();
    store_->flush(); // the emptied history is on disk at once
    checked_.clear();
    if (!states_.empty()) {
        states_.clear();
        emit statesChanged();
    }
    republish();
}

void HistoryLibrary::recheck()
{
    checked_.clear();
    ++epoch_;
    emit epochChanged(epoch_);
}

void HistoryLibrary::check(const HistoryEntry& entry)
{
    const QUuid id = entry.id;
    if (checked_.count(id) > 0 || checking_.count(id) > 0) return;
    checking_.insert(id);
    struct Found {
        HistoryResolution resolution;
        std::optional<FileFingerprint> fingerprint;
    };
    runOff(
        resolver_,
        [entry, exists = exists] {
            Found found{HistoryLocator::resolve(entry, exists), std::nullopt};
            if (found.resolution.kind == HistoryResolution::Kind::present)
                found.fingerprint = FileFingerprint::of(found.resolution.path);
            return found;
        },
        [id](HistoryLibrary& self, Found found) {
            self.checking_.erase(id);
            self.checked_.insert(id);
            const auto current = self.store_->entry(id);
            if (!current) return; // removed meanwhile
            std::optional<std::int64_t> page;
            if (found.fingerprint)
                if (const auto position = self.positions_.position(*found.fingerprint)) page = position->page;
            HistoryFileState state;
            if (found.resolution.kind == HistoryResolution::Kind::present) state.path = found.resolution.path;
            state.progress = HistoryLabels::progress(page, current->pageCount);
            if (found.fingerprint) state.modified = fromReferenceSeconds(found.fingerprint->modified);
            const auto known = self.states_.find(id);
            if (known != self.states_.end() && known->second == state) return;
            self.states_[id] = std::move(state);
            emit self.statesChanged();
        },
        ++asked_);
}

void HistoryLibrary::loadRecents(int limit,
                                 std::function<void(std::vector<std::pair<HistoryEntry, QString>>)> completion)
{
    using Found = std::vector<std::pair<HistoryEntry, QString>>;
    const size_t candidates = std::min(entries_.size(), size_t(std::max(limit, 0)) * 4);
    std::vector<HistoryEntry> looked(entries_.begin(), entries_.begin() + std::ptrdiff_t(candidates));
    runOff(
        resolver_,
        [looked = std::move(looked), limit, exists = exists] {
            Found found;
            for (const HistoryEntry& entry : looked) {
                if (int(found.size()) >= limit) break;
                const HistoryResolution resolution = HistoryLocator::resolve(entry, exists);
                if (resolution.kind == HistoryResolution::Kind::present) found.emplace_back(entry, resolution.path);
            }
            return found;
        },
        [completion = std::move(completion)](HistoryLibrary&, Found found) {
            if (completion) completion(std::move(found));
        },
        ++asked_);
}

void HistoryLibrary::open(const HistoryEntry& entry, std::function<void(const OpenProblem&)> onProblem)
{
    runOff(
        userOpens(), [entry, exists = exists] { return HistoryLocator::resolve(entry, exists); },
        [entry, onProblem = std::move(onProblem)](HistoryLibrary& self, HistoryResolution resolution) {
            if (resolution.kind == HistoryResolution::Kind::present) return self.openFile(resolution.path, onProblem);
            // Found gone: the row turns missing until it is checked again.
            self.checked_.insert(entry.id);
            const auto known = self.states_.find(entry.id);
            if (known == self.states_.end() || known->second != HistoryFileState{}) {
                self.states_[entry.id] = HistoryFileState{};
                emit self.statesChanged();
            }
            if (onProblem) onProblem(OpenProblem::missingEntry(entry.displayTitle()));
        });
}

void HistoryLibrary::openFile(const QString& path, std::function<void(const OpenProblem&)> onProblem)
{
    if (!opener) return;
    opener(path, [guard = QPointer<HistoryLibrary>(this), path,
                  onProblem = std::move(onProblem)](const OpenOutcome& outcome) {
        switch (outcome.kind) {
        case OpenOutcome::Kind::alreadyOpen:
            // A new window records itself when it shows; one brought forward is recorded here.
            if (guard && guard->keepHistory()) {
                guard->store_->record(path);
                guard->republish();
            }
            break;
        case OpenOutcome::Kind::failed:
            if (onProblem) onProblem(OpenProblem::couldNotOpen(path, outcome.reason));
            break;
        case OpenOutcome::Kind::opened:
        case OpenOutcome::Kind::cancelled: // a cancel is never reported
            break;
        }
    });
}

void HistoryLibrary::relocate(const HistoryEntry& entry, const QString& path)
{
    store_->relocate(entry.id, path);
    checked_.erase(entry.id);
    if (states_.erase(entry.id) > 0) emit statesChanged();
    republish();
}

// ---------------------------------------------------------------- the desktop's recent files

void HistoryLibrary::importRecents(const QString& xbelPath)
{
    // Tried at most once per user, whatever happens next.
    if (defaults_.boolValue(HistoryPreferences::importedRecentsKey).value_or(false)) return;
    defaults_.set(HistoryPreferences::importedRecentsKey, true);
    if (store_->existedOnDisk() || !keepHistory()) return;
    struct Found {
        QString path;
        QDateTime modified; // invalid when it could not be read
    };
    runOff(
        resolver_,
        [xbelPath] {
            std::vector<Found> found;
            const auto exists = [](const QUrl& url) { return QFileInfo::exists(url.toLocalFile()); };
            for (const QUrl& url : RecentFiles::visible(RecentFiles::systemRecents(xbelPath), importLimit, exists)) {
                const QString path = url.toLocalFile();
                found.push_back({path, QFileInfo(path).lastModified()});
            }
            return found;
        },
        [](HistoryLibrary& self, std::vector<Found> found) {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            std::vector<HistoryStore::Recent> recents;
            for (size_t i = 0; i < found.size(); ++i) {
                const auto read = self.positions_.lastRead(found[i].path);
                const QDateTime date = read ? *read : found[i].modified.isValid() ? found[i].modified : now;
                // Never later than the desktop's order allows: the first no later
                // than now, the second a second before, and so on.
                const QDateTime cap = now.addSecs(-qint64(i));
                recents.push_back({found[i].path, std::min(cap, date)});
            }
            self.store_->importRecents(recents);
            self.republish();
        });
}

} // namespace quarnkit
