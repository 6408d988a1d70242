#pragma once
// The panels and alerts of the page operations: the Open panel that asks for
// files to insert, the Save panel that asks where extracted pages go, and the
// warning when an operation fails.
#include <QString>

#include <optional>

class QWidget;

namespace quarn {

class ViewerModel;

// Asks for PDFs or images to add at `gap` (0: before the first page; by
// default after the target pages), then inserts them as one step.
void askForPagesToInsert(ViewerModel& viewer, QWidget* parent, std::optional<int> gap = std::nullopt);
// Asks where the target pages go, then writes them there as a new file.
void askWhereToExtract(ViewerModel& viewer, QWidget* parent);
// The warning of a page operation on `window` (application-modal without one).
void showPageAlert(QWidget* window, const QString& message, const QString& detail);

} // namespace quarn
