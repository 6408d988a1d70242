#pragma once
// The tabs of a window's sidebar and the one the user chose last, which every
// new window opens on.
#include <QString>

#include <array>
#include <optional>

namespace platform { class UserDefaults; }

namespace quarnkit {

enum class SidebarTab { pages, outline, marks };

namespace SidebarTabs {

inline constexpr std::array<SidebarTab, 3> all{SidebarTab::pages, SidebarTab::outline, SidebarTab::marks};
inline constexpr const char* defaultsKey = "ravlenSidebarTab";

QString title(SidebarTab tab); // "Pages", "Outline", "Marks"
// The title and its key: "Pages (Alt+Ctrl+1)".
QString help(SidebarTab tab);
const char* name(SidebarTab tab); // "pages", "outline", "marks"
std::optional<SidebarTab> fromName(const QString& name);

void save(SidebarTab tab, platform::UserDefaults& defaults);
// The saved tab; Pages when none or an unknown name is saved.
SidebarTab load(const platform::UserDefaults& defaults);

} // namespace SidebarTabs
} // namespace quarnkit
