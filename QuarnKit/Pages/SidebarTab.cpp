#include "QuarnKit/Pages/SidebarTab.h"

#include "Platform/UserDefaults.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QObject>

namespace quarnkit::SidebarTabs {

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
    ShortcutCommand command = ShortcutCommand::sidebarPages;
    if (tab == SidebarTab::outline) command = ShortcutCommand::sidebarOutline;
    if (tab == SidebarTab::marks) command = ShortcutCommand::sidebarMarks;
    const QKeySequence key = KeyboardShortcuts::menuKey(command);
    if (key.isEmpty()) return title(tab);
    return QStringLiteral("%1 (%2)").arg(title(tab), KeyboardShortcuts::keyText(key[0]));
}

const char* name(SidebarTab tab)
{
    switch (tab) {
    case SidebarTab::pages: return "pages";
    case SidebarTab::outline: return "outline";
    case SidebarTab::marks: return "marks";
    }
    return "pages";
}

std::optional<SidebarTab> fromName(const QString& text)
{
    for (SidebarTab tab : all)
        if (text == QLatin1String(name(tab))) return tab;
    return std::nullopt;
}

void save(SidebarTab tab, platform::UserDefaults& defaults)
{
    defaults.set(defaultsKey, name(tab));
}

SidebarTab load(const platform::UserDefaults& defaults)
{
    const std::optional<std::string> saved = defaults.stringValue(defaultsKey);
    return saved ? fromName(QString::fromStdString(*saved)).value_or(SidebarTab::pages) : SidebarTab::pages;
}

} // namespace quarnkit::SidebarTabs
