#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/Shake.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Spinner.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/WindowChrome.h"
#include "QuarnKit/Shell/Design.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QHBoxLayout>
#include <QScreen>
#include <QSignalSpy>

#include <cmath>
#include <functional>
#include <vector>
#include <QTest>
#include <QVBoxLayout>

using namespace quarn;
namespace D = quarnkit::Design;

namespace {

QImage grabOn(QWidget& widget, const QColor& background)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// What a colour at an opacity looks like over an opaque background.
QColor over(const QColor& top, double opacity, const QColor& bottom)
{
    const double a = top.alphaF() * opacity;
    return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                            float(top.greenF() * a + bottom.greenF() * (1 - a)),
                            float(top.blueF() * a + bottom.blueF() * (1 - a)));
}

void expectNear(const QColor& actual, const QColor& expected, int tolerance = 3)
{
    EXPECT_NEAR(actual.red(), expected.red(), tolerance)
        << actual.name().toStdString() << " vs " << expected.name().toStdString();
    EXPECT_NEAR(actual.green(), expected.green(), tolerance);
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance);
}

void hover(QWidget& widget)
{
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), widget.mapToGlobal(QPointF(2, 2)));
    QApplication::sendEvent(&widget, &enter);
}

} // namespace

TEST(ChromePressStyle, PressDimsAndShrinksThenRestores)
{
    ChromeToolButton button("magnifyingglass", "Find");
    button.show();
    EXPECT_DOUBLE_EQ(button.pressStyle().opacity(), 1.0);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(16, 14));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button.pressStyle().pressAmount() == 1.0; }));
    EXPECT_DOUBLE_EQ(button.pressStyle().opacity(), 0.7);
    EXPECT_DOUBLE_EQ(button.pressStyle().scale(), 0.97);
    // Released outside the button: no click, but the label is restored all the same.
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 200));
    ASSERT_TRUE(QTest::qWaitFor([&] { return button.pressStyle().pressAmount() == 0.0; }));
    EXPECT_EQ(clicks.count(), 0);
}

TEST(ChromeToolButton, CornersClickLikeTheCentre)
{
    ChromeToolButton button("sidebar.left", "Sidebar");
    button.show();
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(0, 0));
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(31, 27));
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(button.size(), QSize(32, 28));
    EXPECT_EQ(button.toolTip(), "Sidebar");
    EXPECT_EQ(button.focusPolicy(), Qt::TabFocus); // Tab reaches it, a click leaves the focus
}

TEST(ChromeToolButton, DisabledChosenButtonKeepsItsAccentDimmedAndIgnoresClicks)
{
    ChromeToolButton button("magnifyingglass", "Find");
    button.setChosen(true);
    button.setEnabled(false);
    button.show();
    QSignalSpy clicks(&button, &QAbstractButton::clicked);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(16, 14));
    EXPECT_EQ(clicks.count(), 0);

    hover(button);
    QTest::qWait(200); // that nothing changes is the point: a hover animation would have run by now
    const QImage image = grabOn(button, D::window());
    // The corner shows the chosen fill (accent at 0.16), the whole at 0.35.
    const QColor fill = over(D::accent(), 0.16, D::window());
    expectNear(image.pixelColor(2, 14), over(fill, 0.35, D::window()));
}

TEST(AccentButton, DisabledHasNoAccentAndNoHoverOverlay)
{
    AccentButton button("Unlock");
    button.resize(button.sizeHint());
    button.setEnabled(false);
    button.show();
    hover(button);
    QTest::qWait(200); // that nothing changes is the point: a hover animation would have run by now
    const QImage image = grabOn(button, D::window());
    expectNear(image.pixelColor(3, 13), over(D::paper(), 0.08, D::window()));
    EXPECT_EQ(button.height(), 26);
}

TEST(AccentButton, EmptyHintStillTakesItsPlace)
{
    AccentButton none("Export");
    AccentButton empty("Export", QString());
    AccentButton hint("Export", QString("Ctrl+E"));
    EXPECT_EQ(empty.sizeHint().width(), none.sizeHint().width() + 8);
    EXPECT_GT(hint.sizeHint().width(), empty.sizeHint().width());
    EXPECT_FALSE(none.shortcutHint().has_value());
}

TEST(ChromeSegmented, SelectionOutsideTheOptionsShowsNoneAndClicksChoose)
{
    ChromeSegmented control({"Single", "Continuous", "Two"}, -1);
    control.resize(300, 30);
    control.show();
    QSignalSpy picks(&control, &ChromeSegmented::selected);
    auto segments = control.findChildren<QAbstractButton*>();
    ASSERT_EQ(segments.size(), 3);
    QTest::mouseClick(segments[1], Qt::LeftButton);
    EXPECT_EQ(control.selection(), 1);
    // Clicking the chosen segment sets the same value again.
    QTest::mouseClick(segments[1], Qt::LeftButton);
    ASSERT_EQ(picks.count(), 2);
    EXPECT_EQ(picks.at(1).at(0).toInt(), 1);
    QTest::mouseClick(segments[2], Qt::LeftButton);
    EXPECT_EQ(control.selection(), 2);
}

TEST(SwatchButton, RingAndOutlineFollowChoiceHoverAndInk)
{
    SwatchButton crimson(quarnkit::RGBA::crimson, false);
    EXPECT_EQ(crimson.toolTip(), "Crimson");
    EXPECT_DOUBLE_EQ(crimson.ringWidth(), 1.0);
    EXPECT_EQ(crimson.ringColor(), withOpacity(D::paper(), 0.18));
    crimson.show();
    hover(crimson);
    EXPECT_EQ(crimson.ringColor(), withOpacity(D::paper(), 0.42));
    crimson.setChosen(true);
    EXPECT_DOUBLE_EQ(crimson.ringWidth(), 1.5);
    EXPECT_EQ(crimson.ringColor(), D::accent());

    EXPECT_EQ(SwatchButton(quarnkit::RGBA::white, false).chipOutline().alpha(), 0);
    EXPECT_EQ(SwatchButton(quarnkit::RGBA::graphite, false).chipOutline(), withOpacity(D::paper(), 0.34));
    EXPECT_EQ(crimson.size(), QSize(22, 22));
}

TEST(SmallMarks, InkDotPageMarkAndKeyCapMeasure)
{
    InkDot light(quarnkit::RGBA::highlighter, 12);
    InkDot dark(quarnkit::RGBA::graphite, 12);
    EXPECT_DOUBLE_EQ(light.outlineWidth(), 0.5);
    EXPECT_EQ(light.outlineColor(), withOpacity(D::paper(), 0.2));
    EXPECT_DOUBLE_EQ(dark.outlineWidth(), 1.0);
    EXPECT_EQ(dark.outlineColor(), withOpacity(D::paper(), 0.5));

    PageMark mark(40);
    EXPECT_NEAR(mark.pageSize().width(), 30.4, 1e-9);
    EXPECT_DOUBLE_EQ(mark.lineWidth(), 2.0);

    KeyCap glyph("K");
    KeyCap word("Space Bar");
    EXPECT_EQ(glyph.sizeHint(), QSize(20, 20));
    EXPECT_GT(word.sizeHint().width(), 20);
    EXPECT_EQ(word.sizeHint().height(), 20);

    Hairline line(true);
    EXPECT_EQ(line.maximumWidth(), 1);
}

// The page mark in its square in a row (the crash prompt's, the update
// window's) keeps the square's room in the layout yet is drawn whole: all
// of its shadow, as much ink as the mark alone, the page's top at the
// square's top.
TEST(SmallMarks, APageMarkInItsSquareKeepsItsWholeShadow)
{
    const auto ink = [](QWidget& widget) {
        QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        double sum = 0;
        int top = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                sum += pixel.alphaF();
                if (top < 0 && pixel.alpha() == 255) top = y;
            }
        return std::pair{sum, top};
    };
    PageMark mark(42);
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    layout->setContentsMargins(24, 28, 24, 22);
    QWidget* square = PageMark::inSquare(42);
    layout->addWidget(square, 0, Qt::AlignTop);
    layout->addStretch(1);
    row.resize(200, 120);
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    EXPECT_EQ(square->size(), QSize(42, 42));
    const double alone = ink(mark).first;
    const auto [shown, top] = ink(row);
    EXPECT_NEAR(shown, alone, alone * 0.002);
    EXPECT_EQ(top, 28);
}

TEST(Shake, SwingsBothWaysAndComesToRest)
{
    QWidget field;
    auto* shake = new Shake(&field, 6);
    EXPECT_EQ(field.graphicsEffect(), shake);
    EXPECT_DOUBLE_EQ(shake->offset(), 0);
    // From an even value the first swing goes right, from an odd one left.
    shake->setTrigger(0.1);
    EXPECT_GT(shake->offset(), 0);
    shake->setTrigger(1.1);
    EXPECT_LT(shake->offset(), 0);
    // Every whole value rests at 0; a value set without animation shows at once.
    shake->setTrigger(2);
    EXPECT_NEAR(shake->offset(), 0, 1e-9);
    EXPECT_NEAR(Shake(new QWidget(&field), 6).offset(), 0, 1e-9);

    double largest = 0;
    shake->shake(400);
    ASSERT_TRUE(testsupport::waitFor([&] {
        largest = std::max(largest, std::abs(shake->offset()));
        return !shake->isShaking();
    }));
    EXPECT_DOUBLE_EQ(shake->trigger(), 3);
    EXPECT_NEAR(shake->offset(), 0, 1e-9);
    EXPECT_GT(largest, 1.0);
    EXPECT_LE(largest, 6.0);
}

// A spinner turns only while it shows: hidden once its work is done, or with
// its window closed, it stops; a work that ended while the window was closed
// leaves it still when the window comes back.
TEST(Spinner, TurnsOnlyWhileItShows)
{
    QWidget window;
    window.resize(60, 60);
    auto* spinner = new Spinner(16, QStringLiteral("Busy"), &window);
    window.show();
    ASSERT_TRUE(spinner->isVisible());
    EXPECT_TRUE(spinner->isTurning());
    // It is seen turning: its arc moves on.
    const QImage first = spinner->grab().toImage();
    EXPECT_TRUE(testsupport::waitFor([&] { return spinner->grab().toImage() != first; }));

    struct Step {
        const char* name;
        std::function<void()> act;
        bool turning;
    };
    const std::vector<Step> steps = {
        {"the work ends", [&] { spinner->hide(); }, false},
        {"more work", [&] { spinner->show(); }, true},
        {"the window closes", [&] { window.hide(); }, false},
        {"the window comes back", [&] { window.show(); }, true},
        {"the window closes again", [&] { window.hide(); }, false},
        {"the work ends meanwhile", [&] { spinner->hide(); }, false},
        {"the window comes back to no work", [&] { window.show(); }, false},
    };
    for (const Step& step : steps) {
        step.act();
        QApplication::processEvents();
        EXPECT_EQ(spinner->isTurning(), step.turning) << step.name;
    }
}

// A turning spinner is seen turning: what its window last put on screen
// (the window's backing store, which a fresh grab of the widget would not
// read) shows its arc in one place after another.
TEST(Spinner, ItsTurnsReachTheScreen)
{
    QWidget window;
    window.resize(60, 60);
    auto* spinner = new Spinner(16, QStringLiteral("Busy"), &window);
    spinner->move(20, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto onScreen = [&] {
        const QPoint at = spinner->mapTo(&window, QPoint(0, 0));
        return window.screen()
            ->grabWindow(window.winId(), at.x(), at.y(), spinner->width(), spinner->height())
            .toImage();
    };
    QImage last = onScreen();
    int turns = 0;
    EXPECT_TRUE(testsupport::waitFor([&] {
        const QImage now = onScreen();
        if (now != last) ++turns;
        last = now;
        return turns >= 3;
    })) << turns
        << " turns seen";
    // Hidden, it leaves the screen still.
    spinner->hide();
    QApplication::processEvents();
    EXPECT_FALSE(spinner->isTurning());
}

namespace {

// Where a spinner's bright arc stands: the direction, in degrees, of the
// centre of its bright pixels seen from the middle of the widget.
double arcDirection(const QImage& image)
{
    double x = 0, y = 0;
    const QPointF middle(image.width() / 2.0, image.height() / 2.0);
    for (int row = 0; row < image.height(); ++row)
        for (int column = 0; column < image.width(); ++column)
            if (qGray(image.pixel(column, row)) > 150) {
                const QPointF at = QPointF(column + 0.5, row + 0.5) - middle;
                const double length = std::hypot(at.x(), at.y());
                x += at.x() / length, y += at.y() / length;
            }
    return std::atan2(y, x) * 180 / M_PI;
}

} // namespace

// Each tick turns the arc by a twelfth of a turn, so that it is seen to spin,
// not to creep.
TEST(Spinner, EachTickTurnsTheArcByItsStep)
{
    QWidget window;
    window.resize(80, 80);
    window.setStyleSheet(QStringLiteral("background: black"));
    window.setAutoFillBackground(true);
    auto* spinner = new Spinner(64, QStringLiteral("Busy"), &window);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QImage last = spinner->grab().toImage();
    std::vector<double> steps;
    EXPECT_TRUE(testsupport::waitFor([&] {
        const QImage now = spinner->grab().toImage();
        if (now != last) {
            const double turned = std::remainder(arcDirection(now) - arcDirection(last), 360.0);
            steps.push_back(std::abs(turned));
            last = now;
        }
        return steps.size() >= 4;
    }));
    for (double step : steps) {
        // A tick seen late shows two steps at once.
        const double ticks = std::round(step / 30);
        EXPECT_GE(ticks, 1) << "turned " << step << " degrees";
        EXPECT_NEAR(step, ticks * 30, 4) << "turned " << step << " degrees";
    }
}

TEST(WindowChrome, StylesItsWindowAndPutsTheDarkBack)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QWidget);
    auto* chrome = new WindowChrome(&window);
    new WindowChrome(&window); // two give the same result as one
    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.palette().color(QPalette::Window) == D::window(); }));
    EXPECT_TRUE(window.autoFillBackground());

    QPalette light;
    light.setColor(QPalette::Window, Qt::white);
    window.setPalette(light);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.palette().color(QPalette::Window) == D::window(); }));
    (void)chrome;
}

TEST(WindowChrome, ProbeInNoWindowChangesNothing)
{
    auto* probe = new WindowChrome;
    probe->apply();
    QCoreApplication::processEvents(); // whatever it queued runs
    delete probe;
    SUCCEED();
}

TEST(Symbols, KnownNamesDrawAndUnknownNamesFallBack)
{
    EXPECT_TRUE(hasSymbol("lock.fill"));
    EXPECT_TRUE(hasSymbol("magnifyingglass"));
    EXPECT_FALSE(hasSymbol("no.such.symbol"));
    auto inked = [](const QPixmap& pixmap) {
        const QImage image = pixmap.toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) count += image.pixelColor(x, y).alpha() > 128;
        return count;
    };
    EXPECT_GT(inked(symbolPixmap("lock.fill", {24, 24}, Qt::red)), 40);
    EXPECT_GT(inked(symbolPixmap("no.such.symbol", {24, 24}, Qt::red)), 20);
    const QImage red = symbolPixmap("lock.fill", {24, 24}, Qt::red).toImage();
    EXPECT_EQ(red.pixelColor(12, 18).rgb() & 0xffffff, 0xff0000u);
}

TEST(Appearance, DarkPaletteUsesTheDesignColours)
{
    const QPalette p = darkPalette();
    EXPECT_EQ(p.color(QPalette::Window), D::window());
    EXPECT_EQ(p.color(QPalette::WindowText), D::paper());
    EXPECT_EQ(p.color(QPalette::Highlight), D::accent());
    EXPECT_NEAR(withOpacity(D::paper(), 0.5).alphaF(), 0.5, 1e-3);
}

TEST(ChromeSegmented, AtItsOwnSizeNoTitleIsCutOffChosenOrNot)
{
    // A title whose width fell between whole pixels was cut to "A…" once chosen
    // and drawn bolder: each segment must leave room for its title in either weight.
    const QStringList titles{"Ask each time", "Always send", "Never", "Two pages continuous"};
    for (int chosen = 0; chosen < titles.size(); ++chosen) {
        ChromeSegmented control(titles, chosen);
        control.resize(control.sizeHint());
        control.show();
        QApplication::processEvents();
        const auto segments = control.findChildren<QAbstractButton*>();
        ASSERT_EQ(segments.size(), titles.size());
        for (int i = 0; i < segments.size(); ++i) {
            for (QFont::Weight weight : {QFont::Medium, QFont::DemiBold}) {
                const double text = QFontMetricsF(uiFont(12, weight)).horizontalAdvance(titles[i]);
                EXPECT_GE(segments[i]->width() - 20, text) << titles[i].toStdString() << " chosen " << chosen;
            }
        }
    }
}
