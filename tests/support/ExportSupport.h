#pragma once
// An export run into a path as the export sheet's question makes it, the
// user having agreed to write over what is there.
#include "QuarnKit/Export/ExportJob.h"

namespace testsupport {

inline quarnkit::ExportDestination chosenDestination(const quarnkit::ExportSettings& settings, const QString& path)
{
    return *quarnkit::ExportDestination::choose(settings, path, [](const QString&, const QString&) { return true; });
}

inline quarnkit::ExportReport exportTo(const quarnkit::ExportSettings& settings,
                                       const std::shared_ptr<platform::PdfDocument>& source, const QString& path,
                                       const quarnkit::ExportJob::Progress& progress, std::stop_token stop = {},
                                       const quarnkit::ExportJob::Recognizer& recognize = {})
{
    return quarnkit::ExportJob::run(settings, source, chosenDestination(settings, path), progress, stop, recognize);
}

inline quarnkit::ExportReport exportTo(const quarnkit::ExportSettings& settings, const QByteArray& snapshot,
                                       const QString& path, const quarnkit::ExportJob::Progress& progress,
                                       std::stop_token stop = {})
{
    return quarnkit::ExportJob::run(settings, snapshot, chosenDestination(settings, path), progress, stop);
}

} // namespace testsupport
