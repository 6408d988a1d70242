#include "UpdateRig.h"

#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentWindow.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Shell/SettingsWindow.h"
#include "Quarn/Update/UpdateCommands.h"
#include "Quarn/Update/UpdateViews.h"
#include "Quarn/Update/UpdateWindow.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

#include <map>

using namespace quarn;
using updatetest::UpdateRig;
using Kind = UpdateState::Kind;

namespace {

const bool privateConfig = testsupport::usePrivateConfigDir();

// What the panel shows, as the user reads it.
struct Panel {
    QString heading, subtitle;
    QStringList buttons; // a disabled one ends in " (off)"
    bool spinner = false;
    QStringList lines; // the texts under the header, top to bottom

    static Panel of(const UpdateView& view)
    {
        Panel panel{view.heading(), view.subtitle(), {}, view.spinnerShown(), {}};
        for (const QAbstractButton* button : view.shownButtons())
            panel.buttons << button->text() + (button->isEnabled() ? QString() : QStringLiteral(" (off)"));
        for (const QLabel* label : view.findChildren<QLabel*>())
            if (label->isVisibleTo(&view) && !label->text().isEmpty() && label->text() != panel.heading
                && label->text() != panel.subtitle)
                panel.lines << label->text();
        return panel;
    }
};

// The panel as it was the first time the updater reached each state.
struct Recorder {
    UpdateView view;
    std::map<Kind, Panel> seen;
    explicit Recorder(UpdateController& updates) : view(updates)
    {
        record(updates);
        QObject::connect(&updates, &UpdateController::changed, &view, [this, &updates] { record(updates); });
    }
    void record(UpdateController& updates) { seen.try_emplace(updates.state().kind, Panel::of(view)); }
};

// The update window and Settings, bound as the application binds them.
struct WithSettings {
    explicit WithSettings(UpdateController& updates) : holder(updates)
    {
        connectUpdateSettings(updates, holder, settings);
    }
    // Settings' shown button of that title; none when it does not show.
    QAbstractButton* button(const QString& title) const
    {
        for (QAbstractButton* b : settings.window()->findChildren<QAbstractButton*>())
            if (b->isVisibleTo(settings.window()) && b->text() == title) return b;
        return nullptr;
    }
    // Whether Settings shows the text.
    bool shows(const QString& text) const
    {
        for (const QLabel* label : settings.window()->findChildren<QLabel*>())
            if (label->isVisibleTo(settings.window()) && label->text() == text) return true;
        return false;
    }

    UpdateWindow holder;
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath("settings.json")};
    quarnkit::ReadingPositionStore positions{defaults};
    SettingsWindow settings{defaults, positions, {}};
};

// The platform's byte counts, in the file style.
QString downloadLine(qint64 done, qint64 total)
{
    const QLocale locale;
    return "Downloading… " + locale.formattedDataSize(done, 1, QLocale::DataSizeSIFormat) + " of "
           + locale.formattedDataSize(total, 1, QLocale::DataSizeSIFormat);
}

} // namespace

TEST(UpdateWindow, EachStateReadsItsHeadingSubtitleAndButtons)
{
    std::map<Kind, Panel> seen;
    const auto collect = [&](Recorder& recorder) { seen.insert(recorder.seen.begin(), recorder.seen.end()); };
    {
        // An update that waits for a document, then installs.
        UpdateRig rig;
        quarn::DocumentWindow* window = rig.documents.openDocument(rig.pdf("kept.pdf"));
        window->undoStack()->push(new QUndoCommand("Edit"));
        rig.documents.askToSaveChanges = [](quarn::DocumentWindow&) { return DocumentController::CloseAnswer::cancel; };
        Recorder recorder(rig.make());
        rig.controller->check(UpdateTrigger::menu);
        ASSERT_TRUE(rig.reaches(Kind::available));
        rig.controller->install();
        ASSERT_TRUE(testsupport::waitFor([&] { return rig.controller->note().has_value(); }));
        seen[Kind::readyToInstall] = Panel::of(recorder.view);
        rig.documents.askToSaveChanges = [](quarn::DocumentWindow&) {
            return DocumentController::CloseAnswer::discard;
        };
        rig.controller->install();
        ASSERT_TRUE(rig.reaches(Kind::installing));
        collect(recorder);
    }
    {
        UpdateRig rig;
        rig.server.answer("/ravlen-2.0.zip", {404, "gone"});
        Recorder recorder(rig.make());
        rig.controller->check(UpdateTrigger::menu);
        ASSERT_TRUE(rig.reaches(Kind::available));
        rig.controller->install();
        ASSERT_TRUE(rig.reaches(Kind::failed));
        seen.emplace(Kind::failed, Panel::of(recorder.view));
    }
    for (const auto& [kind, feed] :
         std::vector<std::pair<Kind, std::string>>{{Kind::upToDate, R"({"version": "1.0", "build": 10})"},
                                                   {Kind::needsNewerSystem, R"({"minimumSystemVersion": "99.0"})"}}) {
        UpdateRig rig;
        nlohmann::json document = rig.feed();
        document.merge_patch(nlohmann::json::parse(feed));
        rig.serveFeed("/feed.json", document);
        Recorder recorder(rig.make());
        rig.controller->check(UpdateTrigger::menu);
        ASSERT_TRUE(rig.reaches(kind));
        seen.emplace(kind, Panel::of(recorder.view));
    }
    UpdateRig rig;
    Recorder nothingOffered(rig.make(rig.environment({"/missing"})));
    rig.controller->check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::failed));
    const Panel failedCheck = Panel::of(nothingOffered.view);

    const QString offer = "ravlen 2.0 is available.", have = "You have 1.0.";
    const QString sentence = quarnkit::message(quarnkit::UpdateError::downloadFailed, "ravlen");
    struct Case {
        Kind kind;
        Panel expected;
    };
    const std::vector<Case> cases{
        {Kind::idle, {"ravlen 1.0", "Check for a newer version.", {"Close", "Check for Updates"}, false, {}}},
        {Kind::checking, {"Checking for updates…", "This takes a moment.", {"Cancel"}, true, {}}},
        {Kind::available,
         {offer,
          have,
          {"Skip This Version", "Later", "Install and Relaunch"},
          false,
          {"What's new", "Faster pages.", "Fewer surprises."}}},
        {Kind::downloading,
         {offer,
          have,
          {"Cancel", "Install and Relaunch (off)"},
          false,
          {"What's new", "Faster pages.", "Fewer surprises.", downloadLine(0, rig.archive.size)}}},
        {Kind::verifying,
         {offer,
          have,
          {"Cancel", "Install and Relaunch (off)"},
          true,
          {"What's new", "Faster pages.", "Fewer surprises.", "Checking the download…"}}},
        {Kind::readyToInstall,
         {offer,
          have,
          {"Skip This Version", "Later", "Install and Relaunch"},
          false,
          {"What's new", "Faster pages.", "Fewer surprises.", "A document is still open, so the update is waiting."}}},
        {Kind::installing,
         {offer,
          have,
          {"Installing… (off)"},
          true,
          {"What's new", "Faster pages.", "Fewer surprises.", "ravlen will reopen in a moment."}}},
        {Kind::failed,
         {offer,
          have,
          {"Skip This Version", "Later", "Try Again"},
          false,
          {"What's new", "Faster pages.", "Fewer surprises.", sentence}}},
        {Kind::upToDate, {"You're up to date.", "ravlen 1.0 is the newest version.", {"OK"}, false, {}}},
        {Kind::needsNewerSystem,
         {"ravlen 2.0 needs glibc 99.0 or later.",
          "This computer has Debian GNU/Linux 12 (bookworm) with glibc 2.36.",
          {"OK"},
          false,
          {}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.kind));
        ASSERT_TRUE(seen.count(c.kind));
        const Panel& shown = seen.at(c.kind);
        EXPECT_EQ(shown.heading, c.expected.heading);
        EXPECT_EQ(shown.subtitle, c.expected.subtitle);
        EXPECT_EQ(shown.buttons, c.expected.buttons);
        EXPECT_EQ(shown.spinner, c.expected.spinner);
        EXPECT_EQ(shown.lines, c.expected.lines);
    }
    // A failed check with nothing offered.
    EXPECT_EQ(failedCheck.heading, "Couldn't check for updates.");
    EXPECT_EQ(failedCheck.subtitle, "You have 1.0.");
    EXPECT_EQ(failedCheck.buttons, (QStringList{"Close", "Try Again"}));
    EXPECT_EQ(failedCheck.lines, QStringList{quarnkit::message(quarnkit::UpdateError::offline, "ravlen")});
}

TEST(UpdateWindow, KeysAndTheCloseButtonActAsTheirButtons)
{
    UpdateRig rig;
    UpdateController& updates = rig.make();
    UpdateWindow holder(updates);
    holder.show(true);
    UpdateView* window = holder.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    EXPECT_EQ(window->width(), UpdateView::panelWidth);

    // Return in idle checks, and the window stays to show it.
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    EXPECT_EQ(updates.state().kind, Kind::checking);
    ASSERT_TRUE(rig.reaches(Kind::available));
    EXPECT_TRUE(window->isVisible());

    // The title bar's close button while downloading: the download goes.
    rig.server.answer("/ravlen-2.0.zip", {200, updatefixtures::readFile(rig.dir.filePath("ravlen-2.0.zip")), 1, 100});
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    ASSERT_TRUE(rig.reaches(Kind::downloading));
    ASSERT_TRUE(testsupport::waitFor([&] { return !window->easing(); }));
    const int before = window->height();
    window->close();
    EXPECT_EQ(updates.state().kind, Kind::available);
    EXPECT_TRUE(testsupport::waitFor([&] { return rig.stagingFolders().isEmpty(); }));
    // The progress line went; the window is fixed to its content's height.
    // (Its geometry while hidden may still take a resize the platform sent before.)
    EXPECT_LT(window->minimumHeight(), before);

    // Escape while checking cancels and puts the window away.
    rig.server.answer("/feed.json", {200, "{}", 1, 0});
    holder.show(true);
    QTest::mouseClick(window->shownButtons().at(1), Qt::LeftButton); // "Later" hides, changes nothing
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(updates.state().kind, Kind::available);
    updates.check(UpdateTrigger::menu);
    holder.show(true);
    ASSERT_EQ(updates.state().kind, Kind::checking);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    EXPECT_EQ(updates.state().kind, Kind::available);
    EXPECT_FALSE(window->isVisible());

    // Skipping is remembered, and the window goes.
    holder.show(true);
    QTest::mouseClick(window->shownButtons().at(0), Qt::LeftButton);
    EXPECT_EQ(updates.state().kind, Kind::idle);
    EXPECT_FALSE(updates.offered().has_value());
    EXPECT_EQ(rig.defaults.stringValue("ravlenUpdateSkippedVersion"), "2.0");
    EXPECT_EQ(rig.hidden, 1);
}

TEST(UpdateWindow, TheWindowGrowsToShowEveryLineWhole)
{
    UpdateRig rig;
    UpdateController& updates = rig.make(rig.environment({"/missing"}));
    UpdateWindow holder(updates);
    holder.show(true);
    UpdateView* window = holder.window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const QPoint corner = window->pos();
    // Each new state eases the panel to its height rather than jumping.
    std::vector<std::pair<bool, int>> atChange; // easing, height: as the state changed
    QObject::connect(&updates, &UpdateController::changed, window,
                     [&] { atChange.emplace_back(window->easing(), window->height()); });
    const int before = window->height();
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::failed)); // a sentence that takes two lines
    ASSERT_FALSE(atChange.empty());
    EXPECT_TRUE(atChange.back().first);
    ASSERT_TRUE(testsupport::waitFor([&] { return !window->easing(); }));
    EXPECT_LT(atChange.back().second, window->height()); // still growing when the state changed
    EXPECT_GT(window->height(), before);
    int lines = 0;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->isVisible() || !label->wordWrap()) continue;
        EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
        const QRect shown(label->mapTo(window, QPoint(0, 0)), label->size());
        EXPECT_TRUE(window->rect().contains(shown)) << label->text().toStdString();
        lines += label->heightForWidth(label->width()) > 2 * label->fontMetrics().height() - 2;
    }
    EXPECT_GE(lines, 1);
    EXPECT_EQ(window->pos(), corner); // grown downwards
}

TEST(UpdateWindow, NotesAndTheBlockerFollowTheRelease)
{
    UpdateRig rig;
    rig.team.reset(); // a development build cannot replace itself
    nlohmann::json feed = rig.feed();
    feed["notes"] = nlohmann::json::array();
    for (int i = 1; i <= 9; ++i) feed["notes"].push_back("Note " + std::to_string(i));
    feed["notes"][0] = std::string(600, 'w') + " end";
    rig.serveFeed("/feed.json", feed);
    UpdateController& updates = rig.make();
    UpdateView view(updates);
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));

    const QStringList notes = view.findChild<ReleaseNotes*>()->shownTexts();
    ASSERT_EQ(notes.size(), ReleaseNotes::shownNotes);
    EXPECT_EQ(notes.last(), "Note 6");
    EXPECT_TRUE(notes.first().endsWith(QChar(0x2026))); // cut at three lines
    EXPECT_FALSE(notes.first().endsWith("end"));
    EXPECT_EQ(Panel::of(view).buttons.last(), "Download");
    EXPECT_TRUE(Panel::of(view).lines.contains(quarnkit::message(quarnkit::InstallBlocker::unsignedCopy, "ravlen")));

    feed["notes"] = nlohmann::json::array();
    feed["build"] = 21; // another release replaces the offer
    rig.serveFeed("/feed.json", feed);
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(testsupport::waitFor([&] { return updates.offered() && updates.offered()->build == 21; }));
    EXPECT_FALSE(Panel::of(view).lines.contains("What's new"));
}

// The notes' title is a heading for screen readers.
TEST(UpdateWindow, WhatsNewIsReadAsAHeading)
{
    UpdateRig rig;
    rig.serveFeed("/feed.json", rig.feed());
    UpdateController& updates = rig.make();
    UpdateView view(updates);
    updates.check(UpdateTrigger::menu);
    ASSERT_TRUE(rig.reaches(Kind::available));
    const QLabel* heading = nullptr;
    for (const QLabel* label : view.findChildren<QLabel*>())
        if (label->text() == "What's new") heading = label;
    ASSERT_NE(heading, nullptr);
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(const_cast<QLabel*>(heading));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->role(), QAccessible::Heading);
    EXPECT_EQ(read->text(QAccessible::Name), "What's new");
}

// A copy built without a feed says so, in the window and in Settings, and
// offers no check that could never succeed.
TEST(UpdateWindow, ACopyWithoutAFeedSaysItDoesNotUpdateItself)
{
    UpdateRig rig;
    quarn::UpdateEnvironment environment = rig.environment({});
    UpdateController& updates = rig.make(environment);
    WithSettings both(updates);

    updates.check(UpdateTrigger::menu);
    both.holder.show(true);
    const Panel panel = Panel::of(*both.holder.window());
    EXPECT_EQ(panel.heading, "ravlen doesn't update itself.");
    EXPECT_TRUE(panel.subtitle.startsWith("This copy was built without an update feed. You have 1.0."));
    EXPECT_EQ(panel.buttons, QStringList{"OK"});
    EXPECT_FALSE(panel.spinner);
    EXPECT_TRUE(rig.server.requests().empty());

    both.settings.show();
    EXPECT_TRUE(both.shows("This copy doesn't update itself: it was built without an update feed."));
    EXPECT_EQ(both.button("Check for Updates"), nullptr);
    for (const QAbstractButton* b : both.settings.window()->findChildren<QAbstractButton*>())
        EXPECT_TRUE(b->accessibleName() != "Check for updates automatically" || !b->isEnabled());
}

TEST(UpdateWindow, DownloadProgressDrawsAndSpeaksTheFraction)
{
    struct Case {
        double fraction;
        double fill;
        const char* spoken;
    };
    for (const Case& c : std::vector<Case>{{0.004, 4, "0 percent"},
                                           {0.125, 51.5, "13 percent"},
                                           {0.994, 409.528, "99 percent"},
                                           {1.0, 412, "100 percent"},
                                           {1.5, 412, "150 percent"}}) {
        EXPECT_NEAR(DownloadProgress::fillWidth(c.fraction, 412), c.fill, 1e-9);
        EXPECT_EQ(DownloadProgress::spokenValue(c.fraction), c.spoken);
    }
}

TEST(UpdateWindow, SettingsAndTheHelpMenuReachTheUpdater)
{
    UpdateRig rig;
    rig.server.answer("/feed.json", {200, "{}", 1, 0}); // the check stays open
    UpdateController& updates = rig.make();
    WithSettings both(updates);
    both.settings.show();
    EXPECT_TRUE(both.shows("Not checked yet."));
    QTest::mouseClick(both.button("Check for Updates"), Qt::LeftButton);
    EXPECT_TRUE(both.shows("Checking for updates…"));
    EXPECT_FALSE(both.button("Check for Updates")->isEnabled());

    rig.serveFeed("/feed.json", rig.feed());
    updates.cancelCheck();
    updates.check(UpdateTrigger::settings);
    ASSERT_TRUE(rig.reaches(Kind::available));
    EXPECT_TRUE(both.shows("ravlen 2.0 is available."));
    EXPECT_EQ(rig.shown.back(), true); // a Settings check brings the window forward
    QTest::mouseClick(both.button("Update"), Qt::LeftButton);
    ASSERT_NE(both.holder.window(), nullptr);
    EXPECT_TRUE(both.holder.window()->isVisible());

    // The menu item stands right after About.
    QMenuBar bar;
    QuarnCommands commands(&bar, nullptr);
    UpdateCommands update(commands);
    const QList<QAction*> help = commands.menu("Help")->actions();
    const qsizetype about = help.indexOf(commands.action("About ravlen"));
    ASSERT_GE(about, 0);
    ASSERT_LT(about + 1, help.size());
    EXPECT_EQ(help[about + 1], update.action());
    EXPECT_EQ(update.action()->text(), "Check for Updates…");
    EXPECT_TRUE(update.action()->isEnabled());
    EXPECT_TRUE(update.action()->shortcut().isEmpty());
}
