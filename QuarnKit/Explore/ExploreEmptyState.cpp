#include "QuarnKit/Explore/ExploreEmptyState.h"

#include "QuarnKit/History/HistoryGrouping.h"

namespace quarnkit {

namespace ExploreEmptyState {

ExploreEmptyMessage message(ExploreModel::Status status, bool finished, std::optional<bool> indexHasPDFs,
                            platform::MetadataIndexProblem problem, const ExploreRequest& shown, bool offersContents)
{
    if (status == ExploreModel::Status::unavailable)
        return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("The file index isn't available"),
                QStringLiteral("ravlen finds PDFs with its file index, which couldn't be read. Check that your "
                               "cache folder can be written.")};
    if (!finished)
        return {QStringLiteral("magnifyingglass"), QStringLiteral("Searching"),
                QStringLiteral("Looking through the PDFs the file index knows about.")};
    // The index is known to be empty only once its indexer walked every
    // folder, or gave up reading: say which.
    if (indexHasPDFs == false) {
        switch (problem) {
        case platform::MetadataIndexProblem::noReader:
            return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("The file index can't read PDFs"),
                    QStringLiteral("ravlen-index-reader, the program that reads PDFs for the file index, isn't "
                                   "installed with this copy of ravlen, so no PDF is indexed. Reinstall ravlen to "
                                   "search your PDFs.")};
        case platform::MetadataIndexProblem::readerUnconfined:
            return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("The file index can't read PDFs"),
                    QStringLiteral("The file index reads PDFs only inside a sandbox, and this system doesn't allow "
                                   "one, so no PDF is indexed.")};
        case platform::MetadataIndexProblem::readerUntrusted:
            return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("The file index can't read PDFs"),
                    QStringLiteral("ravlen didn't run ravlen-index-reader, the program that reads PDFs for the file "
                                   "index, because another user owns or can change it or a folder it's in, so no PDF "
                                   "is indexed. Run ravlen from a folder only you can change to search your PDFs.")};
        case platform::MetadataIndexProblem::readerUnchecked:
            return {QStringLiteral("exclamationmark.triangle"), QStringLiteral("The file index can't read PDFs"),
                    QStringLiteral("ravlen didn't run ravlen-index-reader, the program that reads PDFs for the file "
                                   "index, because it couldn't tell whether another user can change it: a folder on "
                                   "its way can't be searched, or its links go round in circles. So no PDF is "
                                   "indexed. Run ravlen from a folder only you can change to search your PDFs.")};
        case platform::MetadataIndexProblem::none: break;
        }
        return {QStringLiteral("doc"), QStringLiteral("The file index has no PDFs"),
                QStringLiteral("The file index looked through your folders and found no PDFs. New PDFs show up here "
                               "as you add them.")};
    }
    if (shown.isRecents())
        return {QStringLiteral("clock"), QStringLiteral("Nothing opened lately"),
                QStringLiteral("Type a name to search every PDF on this computer.")};
    const QStringList words = shown.searchedWords();
    if (!words.isEmpty()) {
        QString detail = QStringLiteral("No PDFs");
        if (shown.location != ExploreLocation::all) detail += QStringLiteral(" in ") + title(shown.location);
        detail += QStringLiteral(" match “") + words.join(QLatin1Char(' ')) + QStringLiteral("”.");
        if (shown.mode == ExploreMode::names && offersContents)
            detail += QStringLiteral(" Try Contents to search inside them.");
        if (shown.isCut()) detail += QLatin1Char(' ') + ExploreRequest::cutSentence();
        return {QStringLiteral("magnifyingglass"), QStringLiteral("No matches"), detail};
    }
    return {QStringLiteral("folder"), QStringLiteral("No PDFs here"),
            QStringLiteral("The file index found no PDFs in ") + title(shown.location) + QLatin1Char('.')};
}

ExploreEmptyMessage message(const ExploreModel& model, bool offersContents)
{
    return message(model.status(), model.finished(), model.indexHasPDFs(), model.indexProblem(), model.shown(),
                   offersContents);
}

} // namespace ExploreEmptyState

} // namespace quarnkit
