#include "QuarnKit/Pages/SidebarTab.h"

#include "Platform/UserDefaults.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QObject>

namespace quarnkit {

namespace {
const char* const key = "ravlenSidebarTab";

ShortcutCommand command(SidebarTab tab)
{
    switch (tab) {
    case SidebarTab::pages: return ShortcutCommand::sidebarPages;
    case SidebarTab::outline: return ShortcutCommand::sidebarOutline;
    case SidebarTab::marks: return ShortcutCommand::sidebarMarks;
    }
    return ShortcutCommand::sidebarPages;
}
} // namespace

QString name(SidebarTab tab)
{
    switch (tab) {
    case SidebarTab::pages: return QStringLiteral("pages");
    case SidebarTab::outline: return QStringLiteral("outline");
    case SidebarTab::marks: return QStringLiteral("marks");
    }
    return {};
}

std::optional<SidebarTab> sidebarTabNamed(const QString& text)
{
    for (SidebarTab tab : allSidebarTabs)
        if (name(tab) == text) return tab;
    return std::nullopt;
}

QString title(SidebarTab tab)
{
    switch (tab) {
    case SidebarTab::pages: return QObject::tr("Pages");
    case SidebarTab::outline: return QObject::tr("Outline");
    case SidebarTab::marks: return QObject::tr("Marks");
    }
    return {};
}

QString help(SidebarTab tab)
{
    const QKeySequence keys = KeyboardShortcuts::menuKey(command(tab));
    return keys.isEmpty() ? title(tab) : title(tab) + QStringLiteral(" (") + KeyboardShortcuts::keyText(keys[0]) + ')';
}

void saveSidebarTab(SidebarTab tab, platform::UserDefaults& defaults) { defaults.set(key, name(tab).toStdString()); }

SidebarTab loadSidebarTab(const platform::UserDefaults& defaults)
{
    const std::optional<std::string> stored = defaults.stringValue(key);
    return stored ? sidebarTabNamed(QString::fromStdString(*stored)).value_or(SidebarTab::pages) : SidebarTab::pages;
}

} // namespace quarnkit
