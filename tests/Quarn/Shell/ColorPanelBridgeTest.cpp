#include "Quarn/Shell/ColorPanelBridge.h"

#include <gtest/gtest.h>

#include <QColorDialog>
#include <QTest>

#include <memory>
#include <vector>

using namespace quarn;
using quarnkit::RGBA;

namespace {

// An inspector stand-in: the object a caller's closure works on.
struct Inspector {
    std::unique_ptr<QObject> owner = std::make_unique<QObject>();
    std::vector<RGBA> received;
    ColorPanelBridge::Apply apply()
    {
        return [this](const RGBA& c) { received.push_back(c); };
    }
};

void expectNear(const RGBA& actual, const RGBA& expected)
{
    EXPECT_NEAR(actual.r, expected.r, 0.003);
    EXPECT_NEAR(actual.g, expected.g, 0.003);
    EXPECT_NEAR(actual.b, expected.b, 0.003);
    EXPECT_NEAR(actual.a, expected.a, 0.003);
}

} // namespace

TEST(ColorPanelBridge, ShowsOneLivePanelWithoutOpacity)
{
    ColorPanelBridge bridge;
    EXPECT_EQ(bridge.panel(), nullptr);
    Inspector inspector;
    bridge.show(RGBA::crimson, inspector.owner.get(), inspector.apply());
    QColorDialog* panel = bridge.panel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->isModal());
    EXPECT_FALSE(panel->testOption(QColorDialog::ShowAlphaChannel));
    EXPECT_TRUE(panel->testOption(QColorDialog::NoButtons));
    const std::optional<RGBA> shown = RGBA::from(panel->currentColor());
    ASSERT_TRUE(shown);
    expectNear(*shown, RGBA::crimson);
    // Setting the caller's own colour is not a change made by the user.
    EXPECT_TRUE(inspector.received.empty());

    // Every step of a drag reaches the caller.
    panel->setCurrentColor(QColor(255, 0, 0));
    panel->setCurrentColor(QColor(0, 0, 255));
    ASSERT_EQ(inspector.received.size(), 2u);
    expectNear(inspector.received[0], {1, 0, 0, 1});
    expectNear(inspector.received[1], {0, 0, 1, 1});

    // Closing keeps the caller; showing again reuses the one panel.
    panel->close();
    bridge.show(RGBA::moss, inspector.owner.get(), inspector.apply());
    EXPECT_EQ(bridge.panel(), panel);
    EXPECT_TRUE(panel->isVisible());
    panel->close();
}

TEST(ColorPanelBridge, OnlyTheLastCallerHearsChanges)
{
    ColorPanelBridge bridge;
    Inspector first, second;
    bridge.show(RGBA::ink, first.owner.get(), first.apply());
    bridge.show(RGBA::amber, second.owner.get(), second.apply());
    bridge.panel()->setCurrentColor(QColor(10, 200, 30));
    EXPECT_TRUE(first.received.empty());
    ASSERT_EQ(second.received.size(), 1u);
    expectNear(second.received[0], {10 / 255.0, 200 / 255.0, 30 / 255.0, 1});
    bridge.panel()->close();
}

TEST(ColorPanelBridge, NothingRunsOnceTheCallerIsGone)
{
    ColorPanelBridge bridge;
    int calls = 0;
    auto owner = std::make_unique<QObject>();
    bridge.show(RGBA::violet, owner.get(), [&calls](const RGBA&) { ++calls; });
    EXPECT_TRUE(bridge.hasReceiver());
    owner.reset(); // its window closed while the panel stays open
    EXPECT_FALSE(bridge.hasReceiver());
    bridge.panel()->setCurrentColor(QColor(1, 2, 3));
    EXPECT_EQ(calls, 0);

    // No owner at all: nothing to work on, nothing runs.
    bridge.show(RGBA::violet, nullptr, [&calls](const RGBA&) { ++calls; });
    bridge.panel()->setCurrentColor(QColor(4, 5, 6));
    EXPECT_EQ(calls, 0);
    bridge.panel()->close();
}

TEST(ColorPanelBridge, IgnoresColoursWithoutAnSRGBForm)
{
    ColorPanelBridge bridge;
    Inspector inspector;
    bridge.show(RGBA::slate, inspector.owner.get(), inspector.apply());
    bridge.colorChanged(QColor());
    EXPECT_TRUE(inspector.received.empty());
    bridge.colorChanged(QColor::fromCmykF(0, 1, 1, 0));
    ASSERT_EQ(inspector.received.size(), 1u);
    expectNear(inspector.received[0], {1, 0, 0, 1});
    bridge.panel()->close();
}

TEST(ColorPanelBridge, IsOneObjectForTheApplication)
{
    EXPECT_EQ(&ColorPanelBridge::shared(), &ColorPanelBridge::shared());
}
