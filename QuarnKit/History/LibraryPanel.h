#pragma once
// What a document window's library column shows beside the pages: the
// document's own sidebar, the History of opened PDFs or Explore. The choice
// is the user's and outlives the window: every window starts with the panel
// last chosen in any window.
#include <QString>

#include <array>
#include <optional>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

enum class LibraryPanel { document, history, explore };

inline constexpr std::array<LibraryPanel, 3> allLibraryPanels{LibraryPanel::document, LibraryPanel::history,
                                                              LibraryPanel::explore};

namespace LibraryPanels {

inline constexpr const char* savedKey = "ravlenLibraryPanel";

// "document", "history", "explore": how the choice is stored.
QString rawValue(LibraryPanel panel);
// The exact stored name (letter case counts), else none.
std::optional<LibraryPanel> fromRaw(const QString& raw);
// The stored choice; document when there is none or it names no panel.
LibraryPanel saved(const platform::UserDefaults& defaults);
void save(platform::UserDefaults& defaults, LibraryPanel panel);

} // namespace LibraryPanels

} // namespace quarnkit
