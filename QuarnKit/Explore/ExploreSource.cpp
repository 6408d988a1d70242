#include "QuarnKit/Explore/ExploreSource.h"

#include "QuarnKit/Explore/ExploreRanking.h"

#include <QTimer>

namespace quarnkit {

FixedExploreSource::FixedExploreSource(std::vector<ExploreItem> items, int limit, bool available,
                                       ExploreFolders folders, QObject* parent)
    : ExploreSource(parent), items(std::move(items)), limit(limit), available(available), folders(std::move(folders))
{}

void FixedExploreSource::start(const ExploreRequest& request, Update onUpdate)
{
    if (!available) {
        QTimer::singleShot(0, this, [onUpdate] { onUpdate(ExploreSnapshot::failed()); });
        return;
    }
    const std::optional<QString> folder = folders.folder(request.location);
    std::vector<ExploreItem> kept;
    for (const ExploreItem& item : items) {
        if (request.isRecents() && !item.lastUsed) continue;
        if (folder && !item.path.startsWith(*folder + QLatin1Char('/'))) continue;
        if (request.matches(item)) kept.push_back(item);
    }
    ExploreSnapshot snapshot{ExploreRanking::top(kept, request.sort, limit), std::int64_t(kept.size()), true, false};
    QTimer::singleShot(0, this, [onUpdate, snapshot = std::move(snapshot)] { onUpdate(snapshot); });
}

void FixedExploreSource::probe(Answer answer)
{
    const bool any = available && !items.empty();
    QTimer::singleShot(0, this, [answer, any] { answer(any); });
}

} // namespace quarnkit
