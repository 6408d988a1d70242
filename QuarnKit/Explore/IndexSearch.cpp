#include "QuarnKit/Explore/IndexSearch.h"

#include "Platform/Metadata.h"

#include <QFile>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/stat.h>

namespace quarnkit {

// What the source and its worker share. The worker holds it as long as it
// runs, so the source can go without waiting for a search in progress.
struct IndexSearch::Shared {
    Shared(Settings s, IndexSearch* o) : settings(std::move(s)), owner(o) {}

    Settings settings; // the worker's alone once it runs
    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    IndexSearch* owner;                    // none once the source is gone
    std::optional<ExploreRequest> request; // the live search, if any
    std::uint64_t generation = 0;
    bool fresh = false;   // the live search has not been run yet
    bool probing = false; // a probe waits to be taken

    void run();
    // Calls `call` with the source on the source's thread, if the source is
    // still there then.
    template <typename F>
    void post(F&& call)
    {
        std::lock_guard lock(mutex);
        if (!owner) return;
        IndexSearch* to = owner;
        QMetaObject::invokeMethod(
            to, [to, call = std::forward<F>(call)] { call(to); }, Qt::QueuedConnection);
    }
};

namespace {

ExploreSnapshot searchOrFail(std::unique_ptr<platform::MetadataIndex>& index, const ExploreRequest& request,
                             const IndexSearch::Settings& settings)
{
    if (!index) return ExploreSnapshot::failed();
    try {
        return IndexSearch::search(*index, request, settings);
    } catch (const platform::MetadataError&) {
        index.reset(); // opened anew on the next turn
        return ExploreSnapshot::failed();
    }
}

} // namespace

void IndexSearch::Shared::run()
{
    std::unique_ptr<platform::MetadataIndex> index;
    ino_t indexInode = 0;
    std::int64_t version = -1;
    std::optional<ExploreSnapshot> sent;
    bool probing = false;
    for (;;) {
        std::optional<ExploreRequest> live;
        std::uint64_t generation = 0;
        bool freshRun = false;
        {
            std::unique_lock lock(mutex);
            const auto ready = [&] { return !owner || fresh || (this->probing && !probing); };
            // A live search or an open probe looks for changes now and then.
            if (request || probing) wake.wait_for(lock, settings.refresh, ready);
            else wake.wait(lock, ready);
            if (!owner) return;
            live = request;
            generation = this->generation;
            freshRun = fresh;
            fresh = false;
            if (this->probing) {
                probing = true;
                this->probing = false;
            }
        }

        // The indexer replaces a damaged index by a new file: follow it.
        struct stat st {};
        const bool exists = ::stat(settings.indexPath.c_str(), &st) == 0;
        if (!index || !exists || st.st_ino != indexInode) {
            try {
                index = std::make_unique<platform::MetadataIndex>(settings.indexPath);
                indexInode = ::stat(settings.indexPath.c_str(), &st) == 0 ? st.st_ino : 0;
            } catch (const platform::MetadataError&) {
                index.reset();
            }
            version = -1;
        }

        if (live) {
            bool changed = freshRun;
            if (index) {
                const std::int64_t now = index->dataVersion();
                changed = changed || now != version;
                version = now;
            }
            changed = settings.lastUsed.refresh() || changed;
            if (changed) {
                ExploreSnapshot snapshot = searchOrFail(index, *live, settings);
                if (freshRun || snapshot != sent) {
                    sent = snapshot;
                    post([generation, snapshot = std::move(snapshot)](IndexSearch* to) {
                        to->deliver(generation, snapshot);
                    });
                }
            }
        }
        if (probing) {
            // Empty while the first walk still runs says nothing yet: ask again later.
            std::optional<bool> any;
            try {
                if (!index) any = false;
                else if (!index->isEmpty()) any = true;
                else if (index->isComplete() || index->problem() != platform::MetadataIndexProblem::none) any = false;
            } catch (const platform::MetadataError&) {
                any = false;
            }
            if (any) {
                probing = false;
                post([value = *any](IndexSearch* to) { to->answer(value); });
            }
        }
    }
}

IndexSearch::IndexSearch(Settings settings, QObject* parent)
    : ExploreSource(parent), shared_(std::make_shared<Shared>(std::move(settings), this))
{
    std::thread([shared = shared_] { shared->run(); }).detach();
}

IndexSearch::~IndexSearch()
{
    // The worker ends after what it is doing; nothing it posts reaches us.
    {
        std::lock_guard lock(shared_->mutex);
        shared_->owner = nullptr;
    }
    shared_->wake.notify_all();
}

void IndexSearch::start(const ExploreRequest& request, Update onUpdate)
{
    stop();
    ++generation_;
    onUpdate_ = std::move(onUpdate);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->request = request;
        shared_->generation = generation_;
        shared_->fresh = true;
    }
    shared_->wake.notify_all();
}

void IndexSearch::stop()
{
    // Snapshots of the old search still on their way are dropped on arrival.
    ++generation_;
    onUpdate_ = nullptr;
    std::lock_guard lock(shared_->mutex);
    shared_->request.reset();
    shared_->generation = generation_;
    shared_->fresh = false;
}

void IndexSearch::probe(Answer answer)
{
    answers_.push_back(std::move(answer));
    {
        std::lock_guard lock(shared_->mutex);
        shared_->probing = true;
    }
    shared_->wake.notify_all();
}

void IndexSearch::deliver(std::uint64_t generation, const ExploreSnapshot& snapshot)
{
    if (generation == generation_ && onUpdate_) onUpdate_(snapshot);
}

void IndexSearch::answer(bool any)
{
    for (const Answer& a : std::exchange(answers_, {})) a(any);
}

ExploreSnapshot IndexSearch::search(const platform::MetadataIndex& index, const ExploreRequest& request,
                                    const Settings& settings)
{
    const bool recents = request.isRecents();
    const ExploreSort sort = request.sort;
    TopPicker<ExploreItem> picker(settings.limit, [sort](const ExploreItem& a, const ExploreItem& b) {
        return ExploreRanking::precedes(a, b, sort);
    });
    std::int64_t total = 0;
    index.query(request.indexQuery(settings.folders), [&](const platform::MetadataEntry& e) {
        if (settings.exclusions.excludes(e.path)) return;
        std::optional<QDateTime> lastUsed = settings.lastUsed.lastUsed(e.path);
        if (recents && !lastUsed) return;
        ++total;
        std::optional<std::int64_t> pages;
        if (e.pageCount) pages = *e.pageCount;
        picker.offer(ExploreItem::make(e.path, e.name, e.title, pages, e.size, std::move(lastUsed),
                                       QDateTime::fromSecsSinceEpoch(e.addedSeconds, Qt::UTC),
                                       QDateTime::fromMSecsSinceEpoch(e.modifiedNs / 1000000, Qt::UTC)));
    });
    // An indexer that gave up will not complete the index: what it holds is all there is.
    const platform::MetadataIndexProblem problem = index.problem();
    return {picker.take(), total, index.isComplete() || problem != platform::MetadataIndexProblem::none, false,
            problem};
}

} // namespace quarnkit
