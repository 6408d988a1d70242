#include "Quarn/Shell/SettingsWindow.h"
#include "Quarn/Design/ErrorAlert.h"

#include "Platform/UserDefaults.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/History/HistoryStore.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include "support/TestSupport.h"
#include "Quarn/Design/UnnamedControls.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace quarn;

namespace {

// Settings over defaults and a position store of their own, with the
// subsystems it talks to played by the test.
struct SettingsFixture {
    QTemporaryDir dir;
    platform::UserDefaults defaults{dir.filePath(QStringLiteral("defaults.json"))};
    quarnkit::ReadingPositionStore positions{defaults};

    bool isDefault = false;
    QString handler = QStringLiteral("Document Viewer");
    int claims = 0;
    int queries = 0;
    quarnkit::DefaultPDFHandler::Completion pendingClaim;
    int historyCount = 0;
    int clears = 0;
    SettingsServices::UpdateStatus update;
    int checks = 0;
    int updateShown = 0;

    SettingsServices services()
    {
        SettingsServices s;
        // Answered later, as the desktop's answer comes.
        s.queryDefaultPDFApp = [this](QObject* context,
                                      std::function<void(quarnkit::DefaultPDFHandler::HandlerState)> done) {
            ++queries;
            QTimer::singleShot(0, context, [this, done] { done({isDefault, handler}); });
        };
        s.claimDefaultPDFApp = [this](quarnkit::DefaultPDFHandler::Completion done,
                                      quarnkit::DefaultPDFHandler::Ask ask) {
            ++claims;
            ask([this, done](bool accepted) {
                if (accepted) pendingClaim = done;
                else done(std::nullopt);
            });
        };
        s.historyCount = [this] { return historyCount; };
        s.clearHistory = [this] {
            ++clears;
            historyCount = 0;
        };
        s.updateStatus = [this] { return update; };
        s.checkForUpdates = [this] { ++checks; };
        s.showUpdate = [this] { ++updateShown; };
        return s;
    }

    std::unique_ptr<SettingsWindow> windows;
    SettingsView& shown()
    {
        windows = std::make_unique<SettingsWindow>(defaults, positions, services());
        windows->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(windows->window()));
        return *windows->window();
    }
};

// The widgets the user sees, found by what they show.
template <typename W = QWidget>
W* shownWith(QWidget& root, const QString& text)
{
    for (W* w : root.findChildren<W*>()) {
        if (!w->isVisibleTo(&root)) continue;
        if (auto* label = qobject_cast<QLabel*>(w); label && label->text() == text) return w;
        if (auto* button = qobject_cast<QAbstractButton*>(w); button && button->text() == text) return w;
        if (w->accessibleName() == text) return w;
    }
    return nullptr;
}

QAbstractButton* switchFor(QWidget& root, const QString& label)
{
    for (QAbstractButton* b : root.findChildren<QAbstractButton*>())
        if (b->isCheckable() && b->accessibleName() == label) return b;
    return nullptr;
}

// The question the window asks now.
QMessageBox* openQuestion(QWidget& root)
{
    for (QMessageBox* box : root.findChildren<QMessageBox*>())
        if (box->isVisible()) return box;
    return nullptr;
}

QStringList visibleLabels(QWidget& root)
{
    QStringList texts;
    for (QLabel* l : root.findChildren<QLabel*>())
        if (l->isVisibleTo(&root) && !l->text().isEmpty()) texts.append(l->text());
    return texts;
}

void clickSegment(ChromeSegmented* control, const QString& title)
{
    for (QAbstractButton* b : control->findChildren<QAbstractButton*>())
        if (b->accessibleName() == title) QTest::mouseClick(b, Qt::LeftButton);
}

ChromeSegmented* segmentedWith(QWidget& root, const QString& title)
{
    for (ChromeSegmented* s : root.findChildren<ChromeSegmented*>())
        for (QAbstractButton* b : s->findChildren<QAbstractButton*>())
            if (b->accessibleName() == title) return s;
    return nullptr;
}

} // namespace

TEST(SettingsWindow, UnsetKeysShowTheirReadersDefaults)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    EXPECT_EQ(view.width(), 540);
    EXPECT_EQ(view.tabs()->count(), 2);
    EXPECT_EQ(view.tabs()->tabText(0), "General");
    EXPECT_EQ(view.tabs()->tabText(1), "Reading");
    EXPECT_EQ(view.tabs()->currentIndex(), 0);

    for (const char* label : {"Show the welcome window at launch", "Keep a history of opened PDFs",
                              "Check for updates automatically", "Open at last position"}) {
        QAbstractButton* s = switchFor(view, QString::fromUtf8(label));
        ASSERT_NE(s, nullptr) << label;
        EXPECT_TRUE(s->isChecked()) << label;
    }
    EXPECT_EQ(segmentedWith(view, "Ask")->selection(), 0);
    EXPECT_EQ(segmentedWith(view, "Fit page")->selection(), 0);
    EXPECT_EQ(segmentedWith(view, "Continuous")->selection(), 1);
    // Showing the defaults writes nothing.
    EXPECT_FALSE(f.defaults.contains("ravlenShowWelcome"));
    EXPECT_FALSE(f.defaults.contains("ravlenDefaultZoom"));
}

TEST(SettingsWindow, StoredValuesAreShownAsTheirReadersReadThem)
{
    SettingsFixture f;
    f.defaults.set("ravlenShowWelcome", false);
    f.defaults.set("ravlenRestorePosition", "no"); // not a Boolean: on
    f.defaults.set("ravlenCrashReports", "never");
    f.defaults.set("ravlenDefaultZoom", "fitWidth");
    f.defaults.set("ravlenDefaultDisplayMode", "TwoPages"); // not an exact name: continuous
    SettingsView& view = f.shown();
    EXPECT_FALSE(switchFor(view, "Show the welcome window at launch")->isChecked());
    EXPECT_TRUE(switchFor(view, "Open at last position")->isChecked());
    EXPECT_EQ(segmentedWith(view, "Ask")->selection(), 2);
    EXPECT_EQ(segmentedWith(view, "Fit page")->selection(), 1);
    EXPECT_EQ(segmentedWith(view, "Continuous")->selection(), 1);
}

TEST(SettingsWindow, EveryControlWritesItsKeyAtOnce)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    QTest::mouseClick(switchFor(view, "Show the welcome window at launch"), Qt::LeftButton);
    EXPECT_EQ(f.defaults.boolValue("ravlenShowWelcome"), false);
    QTest::mouseClick(switchFor(view, "Check for updates automatically"), Qt::LeftButton);
    EXPECT_EQ(f.defaults.boolValue("ravlenUpdateCheckAutomatically"), false);
    QTest::mouseClick(switchFor(view, "Keep a history of opened PDFs"), Qt::LeftButton);
    EXPECT_EQ(f.defaults.boolValue("ravlenKeepHistory"), false);
    QTest::mouseClick(switchFor(view, "Keep a history of opened PDFs"), Qt::LeftButton);
    EXPECT_EQ(f.defaults.boolValue("ravlenKeepHistory"), true);
    clickSegment(segmentedWith(view, "Ask"), "Always send");
    EXPECT_EQ(f.defaults.stringValue("ravlenCrashReports"), "always");

    view.tabs()->setCurrentIndex(1);
    QTest::mouseClick(switchFor(view, "Open at last position"), Qt::LeftButton);
    EXPECT_EQ(f.defaults.boolValue("ravlenRestorePosition"), false);
    clickSegment(segmentedWith(view, "Fit page"), "Actual size");
    EXPECT_EQ(f.defaults.stringValue("ravlenDefaultZoom"), "actualSize");
    clickSegment(segmentedWith(view, "Continuous"), "Two continuous");
    EXPECT_EQ(f.defaults.stringValue("ravlenDefaultDisplayMode"), "twoPagesContinuous");
    EXPECT_EQ(quarnkit::ReaderPreferences::defaultMode(f.defaults), quarnkit::DisplayMode::twoPagesContinuous);
    // No Apply, OK or Cancel anywhere.
    for (const char* text : {"Apply", "OK", "Cancel"}) EXPECT_EQ(shownWith(view, QString::fromUtf8(text)), nullptr);
}

TEST(SettingsWindow, ForgettingPositionsEmptiesTheStore)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    view.tabs()->setCurrentIndex(1);
    auto* forget = shownWith<QAbstractButton>(view, "Forget saved positions");
    ASSERT_NE(forget, nullptr);
    EXPECT_FALSE(forget->isEnabled()); // nothing stored

    // Positions stored meanwhile count when the tab is shown anew.
    QTemporaryDir files;
    const QString path = files.filePath(QStringLiteral("a.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
    file.close();
    const auto fingerprint = quarnkit::FileFingerprint::of(path);
    ASSERT_TRUE(fingerprint);
    f.positions.save(quarnkit::ReadingPosition{}, *fingerprint);
    view.tabs()->setCurrentIndex(0);
    view.tabs()->setCurrentIndex(1);
    ASSERT_TRUE(forget->isEnabled());
    QTest::mouseClick(forget, Qt::LeftButton);
    EXPECT_EQ(f.positions.count(), 0);
    EXPECT_FALSE(forget->isEnabled());
}

TEST(SettingsWindow, TheDefaultAppLineStartsWithACapital)
{
    // The desktop names no application (or one in lower case): the sentence still begins as one.
    for (const char* handler : {"another app", "", "okular"}) {
        SCOPED_TRACE(handler);
        SettingsFixture f;
        f.handler = QString::fromUtf8(handler);
        SettingsView& view = f.shown();
        const QString first = *handler ? QString::fromUtf8(handler) : QStringLiteral("another app");
        const QString expected = first.left(1).toUpper() + first.mid(1)
                                 + QStringLiteral(" opens PDFs right now. ravlen asks before it changes that.");
        EXPECT_TRUE(testsupport::waitFor([&] { return visibleLabels(view).contains(expected); }));
    }
}

TEST(SettingsWindow, TheDefaultAppRowAsksAndReports)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    // The desktop's answer comes after the window shows, not before.
    EXPECT_TRUE(testsupport::waitFor([&] {
        return visibleLabels(view).contains(
            "Document Viewer opens PDFs right now. ravlen asks before it changes that.");
    }));
    EXPECT_GE(f.queries, 1);
    auto* use = shownWith<QAbstractButton>(view, "Use ravlen");
    ASSERT_NE(use, nullptr);

    // Cancelled: no message.
    QTest::mouseClick(use, Qt::LeftButton);
    auto* question = openQuestion(view);
    ASSERT_NE(question, nullptr);
    EXPECT_EQ(question->text(), "Use ravlen to open PDF files?");
    // Wide enough for a title bar to show its title whole.
    EXPECT_EQ(question->windowTitle(), "Default PDF app");
    EXPECT_TRUE(testsupport::waitFor([&] { return question->isVisible(); }));
    EXPECT_GE(question->width(), widthForTitle(*question, question->windowTitle()));
    question->button(QMessageBox::Cancel)->click();
    EXPECT_EQ(f.claims, 1);
    EXPECT_FALSE(f.pendingClaim);
    EXPECT_EQ(shownWith(view, "xdg-mime failed"), nullptr);

    // Accepted, then failed: the failure in red under the row, until the next try.
    QTest::mouseClick(use, Qt::LeftButton);
    question = openQuestion(view);
    ASSERT_NE(question, nullptr);
    QTest::mouseClick(question->defaultButton(), Qt::LeftButton);
    ASSERT_TRUE(f.pendingClaim);
    std::exchange(f.pendingClaim, nullptr)(QStringLiteral("xdg-mime failed"));
    auto* failure = shownWith<QLabel>(view, "xdg-mime failed");
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->palette().color(QPalette::WindowText), quarnkit::Design::record());
    view.refreshDefaultApp(); // still not the default: the message stays
    EXPECT_NE(shownWith(view, "xdg-mime failed"), nullptr);

    // Made the default elsewhere; found on the next refresh (when the
    // application becomes active again).
    f.isDefault = true;
    view.refreshDefaultApp();
    EXPECT_TRUE(testsupport::waitFor([&] { return shownWith(view, "xdg-mime failed") == nullptr; }));
    EXPECT_EQ(shownWith(view, "Use ravlen"), nullptr);
    EXPECT_TRUE(visibleLabels(view).contains("ravlen opens PDFs on this computer."));
    EXPECT_TRUE(visibleLabels(view).contains("Default"));
}

TEST(SettingsWindow, HistoryStillSavedLine)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    SettingsFixture f;
    f.historyCount = 1;
    SettingsView& view = f.shown();
    // History on: no line whatever the count.
    EXPECT_EQ(shownWith(view, "Clear History"), nullptr);
    QTest::mouseClick(switchFor(view, "Keep a history of opened PDFs"), Qt::LeftButton);
    EXPECT_TRUE(visibleLabels(view).contains("1 PDF is still saved."));
    f.historyCount = 1234;
    view.refreshHistory();
    EXPECT_TRUE(visibleLabels(view).contains("1,234 PDFs are still saved."));

    QTest::mouseClick(shownWith<QAbstractButton>(view, "Clear History"), Qt::LeftButton);
    EXPECT_EQ(f.clears, 1);
    EXPECT_EQ(shownWith(view, "Clear History"), nullptr);
    EXPECT_EQ(shownWith(view, "1,234 PDFs are still saved."), nullptr);

    // An empty history: no line either.
    view.refreshHistory();
    EXPECT_EQ(shownWith(view, "Clear History"), nullptr);
    QLocale::setDefault(QLocale::c());
}

// Switched off and on from the keyboard, the history's still-saved line
// comes and goes under the switch and the window grows and shrinks with it
// each time: no row is squeezed, no gap is left.
TEST(SettingsWindow, TheWindowFollowsTheStillSavedLine)
{
    SettingsFixture f;
    f.historyCount = 1;
    SettingsView& view = f.shown();
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    QAbstractButton* keep = switchFor(view, "Keep a history of opened PDFs");
    for (int press = 0; press < 20 && QApplication::focusWidget() != keep; ++press)
        QTest::keyClick(view.windowHandle(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), keep);
    const int on = view.height();

    // The General tab is the taller: the window is as tall as its content
    // asks (read as the window system reads it after each change).
    const auto fits = [&] { return view.height() == view.sizeHint().height(); };

    QTest::keyClick(view.windowHandle(), Qt::Key_Space);
    ASSERT_TRUE(visibleLabels(view).contains("1 PDF is still saved."));
    ASSERT_TRUE(testsupport::waitFor([&] { return view.height() > on && fits(); })) << view.height();
    const int off = view.height();
    QTest::keyClick(view.windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(testsupport::waitFor([&] { return view.height() == on && fits(); })) << view.height() << " for " << on;
    QTest::keyClick(view.windowHandle(), Qt::Key_Space);
    EXPECT_TRUE(testsupport::waitFor([&] { return view.height() == off && fits(); }))
        << view.height() << " for " << off;
}

TEST(SettingsWindow, VersionRowFollowsTheUpdater)
{
    EXPECT_EQ(settingsVersionLine("1.4", "57", "arm64"), "Version 1.4 (57), ARM64");
    EXPECT_EQ(settingsVersionLine("1.0", "1", "x86_64"), "Version 1.0 (1), x86-64");

    SettingsFixture f;
    f.update = {QStringLiteral("ravlen is up to date."), false, false};
    SettingsView& view = f.shown();
    EXPECT_TRUE(visibleLabels(view).contains("ravlen is up to date."));
    auto* check = shownWith<QAbstractButton>(view, "Check for Updates");
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->isEnabled());
    QTest::mouseClick(check, Qt::LeftButton);
    EXPECT_EQ(f.checks, 1);

    f.update = {QStringLiteral("Checking for updates…"), false, true};
    view.refreshUpdates();
    EXPECT_FALSE(check->isEnabled());

    f.update = {QStringLiteral("ravlen 2.0 is available."), true, false};
    view.refreshUpdates();
    EXPECT_EQ(shownWith(view, "Check for Updates"), nullptr);
    auto* update = shownWith<QAbstractButton>(view, "Update");
    ASSERT_NE(update, nullptr);
    QTest::mouseClick(update, Qt::LeftButton);
    EXPECT_EQ(f.updateShown, 1);

    // No updater connected: the version alone, and nothing to press.
    view.setServices({});
    EXPECT_EQ(shownWith(view, "Update"), nullptr);
    EXPECT_EQ(shownWith(view, "Check for Updates"), nullptr);
}

TEST(SettingsWindow, EscAndCtrlWCloseIt)
{
    SettingsFixture f;
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::ControlModifier, Qt::Key_W)}) {
        SettingsView& view = f.shown();
        QApplication::setActiveWindow(&view);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        QTest::keyClick(view.windowHandle(), key.key(), key.keyboardModifiers());
        EXPECT_TRUE(testsupport::waitFor([&] { return !view.isVisible(); })) << key.toCombined();
    }
}

TEST(SettingsWindow, IsOneWindowHiddenOnClose)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    view.close();
    EXPECT_FALSE(view.isVisible());
    f.windows->show();
    EXPECT_EQ(f.windows->window(), &view);
    EXPECT_TRUE(view.isVisible());
}

// Among the application's windows a screen reader finds it by its title.
TEST(SettingsWindow, AScreenReaderMeetsAWindowNamedSettings)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    QAccessibleInterface* window = accessibletest::applicationWindow(&view);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->role(), QAccessible::Window);
    EXPECT_EQ(window->text(QAccessible::Name), "Settings");
    // It opens with the keys on a named control (its tabs), and nothing
    // that can take the focus goes unnamed.
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus, view.tabs()->tabBar());
    EXPECT_EQ(accessibletest::unnamedControls(&view), QStringList());
}

// The tabs tell a reader which one is chosen: the tab shown is selected,
// the other not, as the arrows sent to the window or a reader's press change it.
TEST(SettingsWindow, AScreenReaderHearsWhichTabIsChosen)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(view.tabs()->tabBar());
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->role(), QAccessible::PageTabList);
    ASSERT_GE(bar->childCount(), 2);
    const auto tabs = [&] {
        QStringList seen;
        for (int i = 0; i < 2; ++i) {
            QAccessibleInterface* tab = bar->child(i);
            if (!tab) return QStringList{QStringLiteral("missing")};
            seen << QStringLiteral("%1 %2 %3")
                        .arg(tab->text(QAccessible::Name))
                        .arg(tab->role() == QAccessible::PageTab ? QStringLiteral("tab") : QStringLiteral("?"))
                        .arg(tab->state().selected ? QStringLiteral("selected") : QStringLiteral("-"));
        }
        return seen;
    };
    EXPECT_EQ(tabs(), QStringList({"General tab selected", "Reading tab -"}));
    EXPECT_TRUE(bar->child(0)->state().selectable);
    EXPECT_FALSE(bar->child(1)->rect().isEmpty());

    QTest::keyClick(view.windowHandle(), Qt::Key_Right);
    ASSERT_EQ(view.tabs()->currentIndex(), 1);
    EXPECT_EQ(tabs(), QStringList({"General tab -", "Reading tab selected"}));
    EXPECT_TRUE(bar->child(1)->state().focused);

    QAccessibleActionInterface* press = bar->child(0)->actionInterface();
    ASSERT_NE(press, nullptr);
    press->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(view.tabs()->currentIndex(), 0);
    EXPECT_EQ(tabs(), QStringList({"General tab selected", "Reading tab -"}));
}

TEST(SettingsWindow, TabsHaveIconsAndTheWindowTakesTheChosenTabsHeight)
{
    SettingsFixture f;
    f.isDefault = true;
    SettingsView& view = f.shown();
    QTabBar* bar = view.tabs()->tabBar();
    for (int i = 0; i < bar->count(); ++i) EXPECT_FALSE(bar->tabIcon(i).isNull()) << i;

    // "Default" stands beside a checkmark, not the placeholder circle.
    ASSERT_TRUE(testsupport::waitFor([&] { return visibleLabels(view).contains("Default"); }));
    QLabel* mark = nullptr;
    for (QLabel* label : view.findChildren<QLabel*>())
        if (!label->pixmap().isNull() && label->isVisibleTo(&view) && label->parentWidget()->findChild<QLabel*>()
            && shownWith<QLabel>(*label->parentWidget(), QStringLiteral("Default")))
            mark = label;
    ASSERT_NE(mark, nullptr);
    const QImage shown = mark->pixmap().toImage();
    const QImage circle =
        symbolPixmap(QStringLiteral("circle"), {12, 12}, shelltext::secondary(), mark->devicePixelRatioF()).toImage();
    EXPECT_NE(shown, circle);

    const int general = view.window()->height();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    ASSERT_EQ(view.tabs()->currentIndex(), 1);
    EXPECT_TRUE(testsupport::waitFor([&] { return view.window()->height() < general - 100; }))
        << general << " then " << view.window()->height();
    // Back on General, all of it shows again.
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    EXPECT_TRUE(testsupport::waitFor([&] { return view.window()->height() == general; })) << view.window()->height();
}

// A copy without an update feed or report servers (long, wrapping lines on
// General): chosen from the keyboard, the Reading tab shows every row at
// its full height, none squeezed.
TEST(SettingsWindow, TheReadingTabShowsEveryRowWhole)
{
    SettingsFixture f;
    f.update = {QStringLiteral("This copy doesn't update itself: it was built without an update feed."), false, false,
                false};
    SettingsServices services = f.services();
    services.canSendCrashReports = [] { return false; };
    f.windows = std::make_unique<SettingsWindow>(f.defaults, f.positions, services);
    f.windows->show();
    SettingsView& view = *f.windows->window();
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));

    QTest::keyClick(view.windowHandle(), Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(view.tabs()->currentIndex(), 1);
    QWidget* page = view.tabs()->currentWidget();
    const auto whole = [&] {
        for (QWidget* row : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (row->isVisible() && row->height() < row->minimumSizeHint().height()) return false;
        return page->height() >= page->minimumSizeHint().height();
    };
    EXPECT_TRUE(testsupport::waitFor(whole)) << page->height() << " for " << page->minimumSizeHint().height();
}

// A copy built without report servers cannot send a report: it says so and
// offers no choice of sending.
TEST(SettingsWindow, ACopyWithoutReportServersOffersNoChoiceOfSending)
{
    for (const bool canSend : {true, false}) {
        SettingsFixture f;
        SettingsServices services = f.services();
        services.canSendCrashReports = [canSend] { return canSend; };
        SettingsWindow windows(f.defaults, f.positions, services);
        windows.show();
        SettingsView& view = *windows.window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        EXPECT_EQ(shownWith(view, QStringLiteral("Always send")) != nullptr, canSend);
        EXPECT_EQ(visibleLabels(view).contains(QStringLiteral(
                      "This copy of ravlen can't send crash reports: it was built without a report server.")),
                  !canSend);
    }
}

// Tab goes round the window: from the tab bar, where the window opens with
// the keys, through every control of the tab shown and back to the tab bar;
// Shift+Tab the same way backwards. On either tab.
TEST(SettingsWindow, TabGoesRoundTheWindowThroughItsTabs)
{
    SettingsFixture f;
    SettingsView& view = f.shown();
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto* tabs = view.findChild<QTabWidget*>();
    ASSERT_NE(tabs, nullptr);
    QTabBar* bar = tabs->tabBar();
    for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        bar->setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), bar);
        for (const Qt::KeyboardModifiers way : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
            QList<QWidget*> met;
            for (int press = 0; press < 40; ++press) {
                QTest::keyClick(view.windowHandle(), Qt::Key_Tab, way);
                met << QApplication::focusWidget();
                if (met.back() == bar) break;
            }
            EXPECT_EQ(met.back(), bar) << "tab " << tab << (way ? " backwards" : "");
            EXPECT_GT(met.size(), 2) << "tab " << tab;
            for (QWidget* stop : met) EXPECT_TRUE(stop && view.isAncestorOf(stop)) << "tab " << tab;
        }
    }
}
