#pragma once
// What runs a search: it takes a request, reports what it finds as a series
// of snapshots, can be stopped, and can tell whether the index holds any PDF
// at all. Every callback arrives on the thread that owns the source (the UI
// thread), never after the source is gone, and never for a search that was
// replaced or stopped.
#include "QuarnKit/Explore/ExploreItem.h"
#include "QuarnKit/Explore/ExploreRequest.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

namespace quarnkit {

struct ExploreSnapshot {
    std::vector<ExploreItem> items; // best first, at most the source's limit
    std::int64_t total = 0;         // how many qualified; may exceed the items
    bool finished = false;          // the index was complete when searched, or its indexer gave up
    bool unavailable = false;       // the search could not run at all
    // Why the indexer reads no PDF, if it gave up.
    platform::MetadataIndexProblem problem = platform::MetadataIndexProblem::none;

    static ExploreSnapshot failed() { return {{}, 0, true, true, {}}; }
    friend bool operator==(const ExploreSnapshot&, const ExploreSnapshot&) = default;
};

class ExploreSource : public QObject {
    Q_OBJECT
public:
    using Update = std::function<void(const ExploreSnapshot&)>;
    using Answer = std::function<void(bool)>;

    using QObject::QObject;
    // Runs a request in place of the one running; `onUpdate` may be called
    // any number of times, until the next start or stop.
    virtual void start(const ExploreRequest& request, Update onUpdate) = 0;
    virtual void stop() = 0;
    // Whether the index holds any PDF; `answer` is called once.
    virtual void probe(Answer answer) = 0;
};

// The same rules over a fixed list in memory: a stand-in for the index.
class FixedExploreSource : public ExploreSource {
    Q_OBJECT
public:
    FixedExploreSource(std::vector<ExploreItem> items, int limit, bool available, ExploreFolders folders,
                       QObject* parent = nullptr);

    void start(const ExploreRequest& request, Update onUpdate) override;
    void stop() override {}
    void probe(Answer answer) override;

    std::vector<ExploreItem> items;
    int limit;
    bool available;
    ExploreFolders folders;
};

} // namespace quarnkit
