#include "QuarnKit/History/LibraryPanel.h"

#include "Platform/UserDefaults.h"

namespace quarnkit::LibraryPanels {

QString rawValue(LibraryPanel panel)
{
    switch (panel) {
    case LibraryPanel::document: return QStringLiteral("document");
    case LibraryPanel::history: return QStringLiteral("history");
    case LibraryPanel::explore: return QStringLiteral("explore");
    }
    return QStringLiteral("document");
}

std::optional<LibraryPanel> fromRaw(const QString& raw)
{
    for (const LibraryPanel panel : allLibraryPanels)
        if (rawValue(panel) == raw) return panel;
    return std::nullopt;
}

LibraryPanel saved(const platform::UserDefaults& defaults)
{
    const auto raw = defaults.stringValue(savedKey);
    if (!raw) return LibraryPanel::document;
    return fromRaw(QString::fromStdString(*raw)).value_or(LibraryPanel::document);
}

void save(platform::UserDefaults& defaults, LibraryPanel panel)
{
    defaults.set(savedKey, rawValue(panel).toStdString());
}

} // namespace quarnkit::LibraryPanels
