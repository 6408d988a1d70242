#include "QuarnKit/Explore/ExploreEmptyState.h"

#include "QuarnKit/History/HistoryGrouping.h"

namespace quarnkit {

namespace ExploreEmptyState {

ExploreEmptyMessage message(ExploreModel::Status status, bool finished, std::optional<bool> indexHasPDFs,
                            const ExploreRequest& shown)
{
    if (status == ExploreModel::Status::unavailable)
        return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("The file index isn't available"),
                QStringLiteral("ravlen finds PDFs with its file index, which couldn't be read. Check that your "
                               "cache folder can be written.")};
    if (!finished)
        return {QStringLiteral("magnifyingglass"), QStringLiteral("Searching"),
                QStringLiteral("Looking through the PDFs the file index knows about.")};
    if (indexHasPDFs == false)
        return {QStringLiteral("hourglass"), QStringLiteral("The file index has no PDFs yet"),
                QStringLiteral("The file index may be off, or still indexing this computer. PDFs show up here as it "
                               "catches up.")};
    if (shown.isRecents())
        return {QStringLiteral("clock"), QStringLiteral("Nothing opened lately"),
                QStringLiteral("Type a name to search every PDF on this computer.")};
    const QStringList words = LibrarySearchText::words(shown.text);
    if (!words.isEmpty()) {
        QString detail = QStringLiteral("No PDFs");
        if (shown.location != ExploreLocation::all) detail += QStringLiteral(" in ") + title(shown.location);
        detail += QStringLiteral(" match “") + words.join(QLatin1Char(' ')) + QStringLiteral("”.");
        if (shown.mode == ExploreMode::names) detail += QStringLiteral(" Try Contents to search inside them.");
        return {QStringLiteral("magnifyingglass"), QStringLiteral("No matches"), detail};
    }
    return {QStringLiteral("folder"), QStringLiteral("No PDFs here"),
            QStringLiteral("The file index found no PDFs in ") + title(shown.location) + QLatin1Char('.')};
}

ExploreEmptyMessage message(const ExploreModel& model)
{
    return message(model.status(), model.finished(), model.indexHasPDFs(), model.shown());
}

} // namespace ExploreEmptyState

} // namespace quarnkit
