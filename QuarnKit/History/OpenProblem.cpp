#include "QuarnKit/History/OpenProblem.h"

#include <QFileInfo>

namespace quarnkit {

namespace {

QString shownName(const QString& path)
{
    // Report.final.pdf is “Report.final”: only the last extension goes.
    return QFileInfo(path).completeBaseName();
}

} // namespace

OpenProblem OpenProblem::couldNotOpen(const QString& path, const QString& reason)
{
    return {QStringLiteral("ravlen couldn't open “%1”.").arg(shownName(path)),
            reason.isEmpty() ? QStringLiteral("The file may be damaged or not a PDF.") : reason};
}

OpenProblem OpenProblem::moved(const QString& path)
{
    return {QStringLiteral("“%1” was moved or deleted.").arg(shownName(path)),
            QStringLiteral("It's still in History, where you can locate it.")};
}

OpenProblem OpenProblem::movedSearchResult(const QString& path)
{
    return {QStringLiteral("“%1” was moved or deleted.").arg(shownName(path)),
            QStringLiteral("It's no longer where the search found it.")};
}

OpenProblem OpenProblem::missingEntry(const QString& name)
{
    return {QStringLiteral("“%1” was moved or deleted.").arg(name),
            QStringLiteral("Locate it, or remove it from History.")};
}

OpenProblem OpenProblem::notShownInFolder(const QString& path, const QString& reason)
{
    return {QStringLiteral("ravlen couldn't show “%1” in its folder.").arg(shownName(path)), reason};
}

} // namespace quarnkit
