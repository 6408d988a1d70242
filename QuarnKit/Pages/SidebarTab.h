#pragma once
// The tab the sidebar shows, kept in the user defaults so each new window
// starts on the tab the user chose last.
#include <QString>

#include <array>
#include <optional>

namespace platform {
class UserDefaults;
}

namespace quarnkit {

enum class SidebarTab { pages, outline, marks };

inline constexpr std::array<SidebarTab, 3> allSidebarTabs{SidebarTab::pages, SidebarTab::outline, SidebarTab::marks};

// "pages", "outline", "marks": how a tab is stored.
QString name(SidebarTab tab);
// The tab stored under a name; none for any other text.
std::optional<SidebarTab> sidebarTabNamed(const QString& name);
// "Pages", "Outline", "Marks".
QString title(SidebarTab tab);
// The tooltip: the title and the tab's key, "Pages (Ctrl+Alt+1)".
QString help(SidebarTab tab);

// Under "ravlenSidebarTab"; a missing or unknown value loads as pages.
void saveSidebarTab(SidebarTab tab, platform::UserDefaults& defaults);
SidebarTab loadSidebarTab(const platform::UserDefaults& defaults);

} // namespace quarnkit
