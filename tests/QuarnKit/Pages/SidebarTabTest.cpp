#include "Platform/UserDefaults.h"
#include "QuarnKit/Pages/SidebarTab.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace quarnkit;

TEST(SidebarTab, SavedByNameAndAnythingElseLoadsAsPages)
{
    QTemporaryDir dir;
    platform::UserDefaults defaults(dir.filePath("defaults.json"));
    EXPECT_EQ(loadSidebarTab(defaults), SidebarTab::pages);
    for (SidebarTab tab : allSidebarTabs) {
        saveSidebarTab(tab, defaults);
        EXPECT_EQ(defaults.stringValue("ravlenSidebarTab"), name(tab).toStdString());
        EXPECT_EQ(loadSidebarTab(defaults), tab);
    }
    for (const nlohmann::json& odd : {nlohmann::json("thumbnails"), nlohmann::json(2), nlohmann::json("Outline")}) {
        defaults.set("ravlenSidebarTab", odd);
        EXPECT_EQ(loadSidebarTab(defaults), SidebarTab::pages) << odd.dump();
    }
    EXPECT_EQ(help(SidebarTab::pages), "Pages (Ctrl+Alt+1)");
    EXPECT_EQ(help(SidebarTab::marks), "Marks (Ctrl+Alt+3)");
}
