#include "Quarn/Shell/SettingsWindow.h"

#include "Platform/UserDefaults.h"
#include "Quarn/App/DocumentController.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/AccessibleWindow.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/WindowChrome.h"
#include "Quarn/History/HistoryHooks.h"
#include "Quarn/Shell/DefaultAppQuestion.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Crash/CrashReportPolicy.h"
#include "QuarnKit/Crash/CrashUpload.h"
#include "QuarnKit/History/HistoryStore.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/VersionTexts.h"
#include "QuarnKit/Update/Chip.h"
#include "QuarnKit/Update/UpdateError.h"
#include "QuarnKit/Viewer/DisplayModes.h"
#include "QuarnKit/Viewer/ReadingPositions.h"

#include <algorithm>

#include <QAbstractButton>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QStackedWidget>
#include <QApplication>
#include <QTabBar>
#include <QSysInfo>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <array>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::DisplayMode;
using quarnkit::ZoomPreset;
namespace ReaderPreferences = quarnkit::ReaderPreferences;

namespace {

using quarnkit::appDisplayName;

// ---------------------------------------------------------------- switch

// An on/off switch, small, in the accent colour when on; its label is for
// screen readers only. The knob slides with the design's 0.12 s ease-out.
class SettingsSwitch : public QAbstractButton {
public:
    SettingsSwitch(const QString& label, QWidget* parent = nullptr) : QAbstractButton(parent)
    {
        setCheckable(true);
        setAccessibleName(label);
        setFocusPolicy(Qt::TabFocus);
        setCursor(Qt::PointingHandCursor);
        setFixedSize(sizeHint());
        slide_.setDuration(120);
        slide_.setEasingCurve(QEasingCurve::OutCubic);
        connect(&slide_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
            knob_ = v.toDouble();
            update();
        });
        connect(this, &QAbstractButton::toggled, this, [this](bool on) {
            slide_.stop();
            slide_.setStartValue(knob_);
            slide_.setEndValue(on ? 1.0 : 0.0);
            slide_.start();
        });
    }
    // Shows a stored value without the slide and without a toggled signal.
    void setStored(bool on)
    {
        const QSignalBlocker quiet(this);
        setChecked(on);
        slide_.stop();
        knob_ = on ? 1.0 : 0.0;
        update();
    }
    QSize sizeHint() const override { return {32, 18}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled()) p.setOpacity(0.35);
        const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const double r = track.height() / 2;
        QPainterPath path;
        path.addRoundedRect(track, r, r);
        // Off: a faint paper track; on: the accent, blended as the knob slides.
        const QColor off = withOpacity(D::paper(), 0.16), on = D::accent();
        const double t = knob_;
        const QColor fill = QColor::fromRgbF(float(off.redF() + (on.redF() - off.redF()) * t),
                                             float(off.greenF() + (on.greenF() - off.greenF()) * t),
                                             float(off.blueF() + (on.blueF() - off.blueF()) * t),
                                             float(off.alphaF() + (on.alphaF() - off.alphaF()) * t));
        p.fillPath(path, fill);
        if (hasFocus()) p.strokePath(path, QPen(withOpacity(D::accent(), 0.8), 1));
        const double d = track.height() - 4;
        const QRectF knob(track.left() + 2 + (track.width() - 4 - d) * t, track.top() + 2, d, d);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255));
        p.drawEllipse(knob);
    }

private:
    QVariantAnimation slide_;
    double knob_ = 0;
};

// The version row's quiet button, outlined in the hairline colour: alone in
// its row it must read as a button.
class OutlinedQuietButton : public QuietButton {
public:
    using QuietButton::QuietButton;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QuietButton::paintEvent(event);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(D::hairline(), 1));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
};

// ---------------------------------------------------------------- rows

QLabel* rowTitle(const QString& text) { return shelltext::label(text, uiFont(13, QFont::DemiBold), D::paper()); }

QLabel* rowDetail(const QString& text)
{
    QLabel* label = shelltext::label(text, uiFont(12), shelltext::secondary());
    label->setWordWrap(true);
    return label;
}

struct Row {
    QWidget* widget;
    QLabel* title;
    QLabel* detail;
};

// Title and detail on the left, the control at the right edge.
Row settingsRow(const QString& title, const QString& detail, QWidget* control)
{
    auto* widget = new QWidget;
    auto* layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 14, 0, 14);
    layout->setSpacing(16);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    Row row{widget, rowTitle(title), rowDetail(detail)};
    texts->addWidget(row.title);
    texts->addWidget(row.detail);
    layout->addLayout(texts, 1);
    if (control) layout->addWidget(control, 0, Qt::AlignVCenter);
    return row;
}

// Title and detail, the control below them.
QWidget* settingsChoice(const QString& title, const QString& detail, QWidget* control)
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 14, 0, 14);
    layout->setSpacing(10);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(rowTitle(title));
    texts->addWidget(rowDetail(detail));
    layout->addLayout(texts);
    layout->addWidget(control, 0, Qt::AlignLeft);
    return widget;
}

// A symbol the icon table draws, else none: a placeholder circle says nothing.
QString knownSymbol(const QString& name) { return hasSymbol(name) ? name : QString(); }

QIcon symbolIcon(const QString& name)
{
    if (!hasSymbol(name)) return {};
    return QIcon(symbolPixmap(name, {16, 16}, D::paper(), 2));
}

// Shows a stored choice; the segments are measured again, as the chosen one
// is drawn in a heavier weight.
void showChoice(ChromeSegmented* control, int index)
{
    control->setSelection(index);
    if (QLayout* l = control->layout()) l->invalidate();
    control->updateGeometry();
}

QString processorFamily(const QString& architecture)
{
    const auto chip = quarnkit::chipFromRaw(architecture);
    return chip ? quarnkit::buildLabel(*chip) : architecture;
}

} // namespace

QString settingsVersionLine(const QString& shortVersion, const QString& build, const QString& cpuArchitecture)
{
    return QStringLiteral("Version %1 (%2), %3").arg(shortVersion, build, processorFamily(cpuArchitecture));
}

SettingsServices SettingsServices::standard()
{
    namespace H = quarnkit::DefaultPDFHandler;
    SettingsServices services;
    services.queryDefaultPDFApp = H::query;
    services.claimDefaultPDFApp = [](H::Completion completion, H::Ask ask) {
        H::claim(std::move(completion), std::move(ask));
    };
    addHistoryServices(services);
    services.canSendCrashReports = [] {
        // The build's report servers: Info.json, read once.
        static const bool any =
            !quarnkit::CrashUpload::endpoints(quarnkit::readInstallInfo(quarnkit::installInfoPath())).empty();
        return any;
    };
    // HOOK: the updater connects itself here when it exists (updateStatus,
    // checkForUpdates, showUpdate), through SettingsWindow::shared().setServices().
    return services;
}

// ---------------------------------------------------------------- view

struct SettingsView::Bindings {
    SettingsSwitch* showWelcome = nullptr;
    SettingsSwitch* keepHistory = nullptr;
    SettingsSwitch* updateAutomatically = nullptr;
    SettingsSwitch* restorePosition = nullptr;
    ChromeSegmented* crashReports = nullptr;
    ChromeSegmented* defaultZoom = nullptr;
    ChromeSegmented* defaultMode = nullptr;
};

SettingsView::SettingsView(platform::UserDefaults& defaults, quarnkit::ReadingPositionStore& positions,
                           SettingsServices services, QWidget* parent)
    : QWidget(parent), defaults_(defaults), positions_(positions), services_(std::move(services)),
      bound_(std::make_unique<Bindings>())
{
    setWindowTitle(QStringLiteral("Settings"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, D::window());
    setPalette(pal);
    setFixedWidth(540);
    new WindowChrome(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    tabs_ = new QTabWidget;
    tabs_->setDocumentMode(true);
    // The tab bar takes the keys itself: the unnamed frame around the pages
    // is no stop of its own, nor focused through its bar (a reader would
    // meet it first, named by nothing).
    tabs_->setFocusPolicy(Qt::NoFocus);
    tabs_->setFocusProxy(nullptr);
    general_ = makeGeneral();
    reading_ = makeReading();
    tabs_->addTab(general_, symbolIcon(QStringLiteral("gearshape")), QStringLiteral("General"));
    tabs_->addTab(reading_, symbolIcon(QStringLiteral("book")), QStringLiteral("Reading"));
    tabs_->setCurrentIndex(0);
    // A reader hears which tab is chosen.
    exposeTabSelection(tabs_->tabBar());
    layout->addWidget(tabs_);
    // The window opens with the keys on its tabs, not on the first page's button.
    tabs_->tabBar()->setFocus(Qt::OtherFocusReason);
    connect(tabs_, &QTabWidget::currentChanged, this, &SettingsView::fitToTab);

    // Each tab reads its state when it comes on screen.
    general_->installEventFilter(this);
    reading_->installEventFilter(this);
    // Made the default PDF app elsewhere while the window is open.
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive && general_->isVisible()) refreshDefaultApp();
    });
    readDefaults();
    refreshHistory();
    refreshUpdates();
    fitToTab();
}

SettingsView::~SettingsView() = default;

void SettingsView::setServices(SettingsServices services)
{
    services_ = std::move(services);
    refreshHistory();
    refreshUpdates();
    if (general_->isVisible()) refreshDefaultApp();
}

QWidget* SettingsView::makeGeneral()
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setSpacing(14);
    header->setContentsMargins(0, 0, 0, 20);
    header->addWidget(new PageMark(44), 0, Qt::AlignVCenter);
    auto* name = new QVBoxLayout;
    name->setSpacing(2);
    name->addStretch(1);
    name->addWidget(shelltext::label(QStringLiteral("ravlen"), uiFont(18, QFont::DemiBold), D::paper()));
    name->addWidget(
        shelltext::label(QStringLiteral("Read, mark up, sign, and export PDFs."), uiFont(12), shelltext::secondary()));
    name->addStretch(1);
    header->addLayout(name, 1);
    column->addLayout(header);
    column->addWidget(new Hairline(false));

    // The default PDF app: a mark when ravlen is it, else the button that asks.
    handlerControl_ = new QStackedWidget;
    auto* claim = new AccentButton(QStringLiteral("Use ravlen"));
    connect(claim, &QAbstractButton::clicked, this, &SettingsView::claimDefault);
    auto* isDefault = new QWidget;
    auto* mark = new QHBoxLayout(isDefault);
    mark->setContentsMargins(0, 0, 0, 0);
    mark->setSpacing(4);
    auto* check = new QLabel;
    check->setPixmap(symbolPixmap(QStringLiteral("checkmark"), {12, 12}, shelltext::secondary(), devicePixelRatioF()));
    mark->addWidget(check);
    mark->addWidget(shelltext::label(QStringLiteral("Default"), uiFont(12, QFont::Medium), shelltext::secondary()));
    handlerControl_->addWidget(claim);
    handlerControl_->addWidget(isDefault);
    handlerControl_->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    handlerControl_->setFixedSize(claim->sizeHint());
    Row handler = settingsRow(QStringLiteral("Default PDF app"), QString(), handlerControl_);
    handlerStatus_ = handler.detail;
    column->addWidget(handler.widget);
    claimFailure_ = shelltext::label(QString(), uiFont(12), D::record());
    claimFailure_->setWordWrap(true);
    claimFailure_->setContentsMargins(0, 0, 0, 12);
    claimFailure_->hide();
    column->addWidget(claimFailure_);
    column->addWidget(new Hairline(false));

    bound_->showWelcome = new SettingsSwitch(QStringLiteral("Show the welcome window at launch"));
    connect(bound_->showWelcome, &QAbstractButton::toggled, this,
            [this](bool on) { defaults_.set(ReaderPreferences::showWelcomeKey, on); });
    column->addWidget(settingsRow(QStringLiteral("Show the welcome window at launch"),
                                  QStringLiteral("When off, ravlen starts with the Open dialog."), bound_->showWelcome)
                          .widget);
    column->addWidget(new Hairline(false));

    // History.
    bound_->keepHistory = new SettingsSwitch(QStringLiteral("Keep a history of opened PDFs"));
    connect(bound_->keepHistory, &QAbstractButton::toggled, this, [this](bool on) {
        if (services_.setKeepHistory) services_.setKeepHistory(on);
        else defaults_.set(quarnkit::HistoryPreferences::keepHistoryKey, on);
        refreshHistory();
    });
    historyRow_ = settingsRow(QStringLiteral("Keep a history of opened PDFs"),
                              QStringLiteral("The list stays on this computer."), bound_->keepHistory)
                      .widget;
    column->addWidget(historyRow_);
    historyLine_ = new QWidget;
    auto* line = new QHBoxLayout(historyLine_);
    line->setContentsMargins(0, 0, 0, 14);
    line->setSpacing(8);
    historyLineText_ = shelltext::label(QString(), uiFont(12), shelltext::secondary());
    line->addWidget(historyLineText_);
    auto* clear = new QuietButton(QStringLiteral("Clear History"));
    connect(clear, &QAbstractButton::clicked, this, [this] {
        if (services_.clearHistory) services_.clearHistory(); // no question: the user asked for it
        refreshHistory();
    });
    line->addWidget(clear);
    line->addStretch(1);
    column->addWidget(historyLine_);
    column->addWidget(new Hairline(false));

    // Updates.
    auto* updateControl = new QWidget;
    auto* updateButtons = new QHBoxLayout(updateControl);
    updateButtons->setContentsMargins(0, 0, 0, 0);
    updateButton_ = new AccentButton(QStringLiteral("Update"));
    connect(updateButton_, &QAbstractButton::clicked, this, [this] {
        if (services_.showUpdate) services_.showUpdate();
    });
    checkButton_ = new OutlinedQuietButton(QStringLiteral("Check for Updates"));
    connect(checkButton_, &QAbstractButton::clicked, this, [this] {
        if (services_.checkForUpdates) services_.checkForUpdates();
    });
    updateButtons->addWidget(updateButton_);
    updateButtons->addWidget(checkButton_);
    Row version = settingsRow(settingsVersionLine(quarnkit::appShortVersion(), quarnkit::appBuildVersion(),
                                                  quarnkit::rawValue(quarnkit::builtChip())),
                              QString(), updateControl);
    updateDetail_ = version.detail;
    column->addWidget(version.widget);
    column->addWidget(new Hairline(false));
    bound_->updateAutomatically = new SettingsSwitch(QStringLiteral("Check for updates automatically"));
    connect(bound_->updateAutomatically, &QAbstractButton::toggled, this,
            [this](bool on) { defaults_.set(quarnkit::UpdatePreferences::automaticKey, on); });
    column->addWidget(
        settingsRow(QStringLiteral("Check for updates automatically"),
                    appDisplayName() + QStringLiteral(" checks once a day and asks before it installs anything."),
                    bound_->updateAutomatically)
            .widget);
    column->addWidget(new Hairline(false));

    // Crash reports.
    QStringList crashModeTitles;
    for (quarnkit::CrashReportMode mode : quarnkit::allCrashReportModes) crashModeTitles << quarnkit::title(mode);
    bound_->crashReports = new ChromeSegmented(crashModeTitles, 0);
    bound_->crashReports->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed); // the detail wraps instead
    connect(bound_->crashReports, &ChromeSegmented::selected, this, [this](int index) {
        if (index < 0 || index >= int(quarnkit::allCrashReportModes.size())) return;
        defaults_.set(quarnkit::CrashReportPreferences::modeKey,
                      quarnkit::rawValue(quarnkit::allCrashReportModes[size_t(index)]));
        showChoice(bound_->crashReports, index);
    });
    const Row crash = settingsRow(QStringLiteral("Crash reports"), QString(), bound_->crashReports);
    crashDetail_ = crash.detail;
    column->addWidget(crash.widget);
    return page;
}

QWidget* SettingsView::makeReading()
{
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(0);

    bound_->restorePosition = new SettingsSwitch(QStringLiteral("Open at last position"));
    connect(bound_->restorePosition, &QAbstractButton::toggled, this,
            [this](bool on) { defaults_.set(ReaderPreferences::restorePositionKey, on); });
    column->addWidget(settingsRow(QStringLiteral("Open at last position"),
                                  QStringLiteral("Reopen each PDF at the page and zoom where you left it."),
                                  bound_->restorePosition)
                          .widget);
    auto* forget = new QHBoxLayout;
    forget->setContentsMargins(0, 0, 0, 14);
    forgetButton_ = new QuietButton(QStringLiteral("Forget saved positions"));
    connect(forgetButton_, &QAbstractButton::clicked, this, &SettingsView::forgetPositions);
    forget->addWidget(forgetButton_);
    forget->addStretch(1);
    column->addLayout(forget);
    column->addWidget(new Hairline(false));

    bound_->defaultZoom = new ChromeSegmented;
    std::vector<ChromeSegmented::Option> zooms;
    for (ZoomPreset preset : quarnkit::allZoomPresets) zooms.push_back({quarnkit::shortTitle(preset), {}, {}});
    bound_->defaultZoom->setOptions(std::move(zooms));
    connect(bound_->defaultZoom, &ChromeSegmented::selected, this, [this](int index) {
        if (index < 0 || index >= int(quarnkit::allZoomPresets.size())) return;
        defaults_.set(ReaderPreferences::defaultZoomKey, quarnkit::rawValue(quarnkit::allZoomPresets[size_t(index)]));
        showChoice(bound_->defaultZoom, index);
    });
    column->addWidget(settingsChoice(QStringLiteral("Default zoom"),
                                     QStringLiteral("For PDFs you haven't opened before."), bound_->defaultZoom));
    column->addWidget(new Hairline(false));

    bound_->defaultMode = new ChromeSegmented;
    std::vector<ChromeSegmented::Option> modes;
    for (DisplayMode mode : quarnkit::allDisplayModes)
        modes.push_back({quarnkit::shortTitle(mode), knownSymbol(QString::fromStdString(quarnkit::symbol(mode))), {}});
    bound_->defaultMode->setOptions(std::move(modes));
    connect(bound_->defaultMode, &ChromeSegmented::selected, this, [this](int index) {
        if (index < 0 || index >= int(quarnkit::allDisplayModes.size())) return;
        defaults_.set(ReaderPreferences::defaultModeKey, quarnkit::rawValue(quarnkit::allDisplayModes[size_t(index)]));
        showChoice(bound_->defaultMode, index);
    });
    column->addWidget(settingsChoice(QStringLiteral("Default view"),
                                     QStringLiteral("Change it for one PDF from the View menu."), bound_->defaultMode));
    column->addStretch(1);
    return page;
}

void SettingsView::readDefaults()
{
    bound_->showWelcome->setStored(ReaderPreferences::showWelcome(defaults_));
    bound_->keepHistory->setStored(quarnkit::HistoryPreferences::keepHistory(defaults_));
    bound_->updateAutomatically->setStored(quarnkit::UpdatePreferences::automatic(defaults_));
    bound_->restorePosition->setStored(ReaderPreferences::restorePosition(defaults_));
    const quarnkit::CrashReportMode mode = quarnkit::CrashReportPreferences::mode(defaults_);
    for (size_t i = 0; i < quarnkit::allCrashReportModes.size(); ++i)
        if (quarnkit::allCrashReportModes[i] == mode) showChoice(bound_->crashReports, int(i));
    const ZoomPreset zoom = ReaderPreferences::defaultZoom(defaults_);
    const DisplayMode display = ReaderPreferences::defaultMode(defaults_);
    for (size_t i = 0; i < quarnkit::allZoomPresets.size(); ++i)
        if (quarnkit::allZoomPresets[i] == zoom) showChoice(bound_->defaultZoom, int(i));
    for (size_t i = 0; i < quarnkit::allDisplayModes.size(); ++i)
        if (quarnkit::allDisplayModes[i] == display) showChoice(bound_->defaultMode, int(i));
}

bool SettingsView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A row that came or went (the history's still-saved line, the claim's
    // failure) is measured once the layouts under it have taken it in.
    if (event->type() == QEvent::LayoutRequest) fitToTab();
    return handled;
}

bool SettingsView::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show) {
        readDefaults();
        if (watched == general_) {
            refreshDefaultApp();
            refreshHistory();
            refreshUpdates();
        } else if (watched == reading_) {
            remembered_ = positions_.count();
            forgetButton_->setEnabled(remembered_ > 0);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsView::refreshDefaultApp()
{
    if (!services_.queryDefaultPDFApp) return showDefaultApp({false, {}});
    // Shown as last known until the answer comes.
    services_.queryDefaultPDFApp(
        this, [this](const quarnkit::DefaultPDFHandler::HandlerState& state) { showDefaultApp(state); });
}

void SettingsView::showDefaultApp(const quarnkit::DefaultPDFHandler::HandlerState& state)
{
    const bool isDefault = state.isDefault;
    handlerControl_->setCurrentIndex(isDefault ? 1 : 0);
    if (isDefault) {
        handlerStatus_->setText(QStringLiteral("ravlen opens PDFs on this computer."));
        claimFailure_->clear();
        claimFailure_->hide();
    } else {
        const QString name = state.name.isEmpty() ? QStringLiteral("Another app") : state.sentenceName();
        // ravlen asks before it changes the default (askToClaim), as Linux itself does not.
        handlerStatus_->setText(name + QStringLiteral(" opens PDFs right now. ravlen asks before it changes that."));
    }
    fitToTab();
}

void SettingsView::claimDefault()
{
    claimFailure_->clear();
    claimFailure_->hide();
    if (!services_.claimDefaultPDFApp) return;
    QPointer<SettingsView> self(this);
    services_.claimDefaultPDFApp(
        [self](std::optional<QString> failure) {
            if (self) self->claimFinished(failure);
        },
        [self](std::function<void(bool)> answer) {
            if (self) self->askToClaim(std::move(answer));
            else answer(false);
        });
}

void SettingsView::askToClaim(std::function<void(bool)> answer) { askToUseRavlenForPdfs(window(), std::move(answer)); }

void SettingsView::claimFinished(const std::optional<QString>& failure)
{
    claimFailure_->setText(failure.value_or(QString()));
    claimFailure_->setVisible(failure.has_value());
    refreshDefaultApp();
}

void SettingsView::refreshHistory()
{
    // Switched elsewhere too (the History panel's Turn On History).
    bound_->keepHistory->setStored(quarnkit::HistoryPreferences::keepHistory(defaults_));
    const int count = services_.historyCount ? services_.historyCount() : 0;
    const bool show = !bound_->keepHistory->isChecked() && count > 0;
    if (show)
        historyLineText_->setText(count == 1
                                      ? QStringLiteral("1 PDF is still saved.")
                                      : QStringLiteral("%1 PDFs are still saved.").arg(QLocale().toString(count)));
    historyLine_->setVisible(show);
    // The line sits close under the switch's row: 6 of the row's padding go.
    historyRow_->layout()->setContentsMargins(0, 14, 0, show ? 8 : 14);
}

void SettingsView::refreshUpdates()
{
    const bool connected = bool(services_.updateStatus);
    const SettingsServices::UpdateStatus status =
        connected ? services_.updateStatus() : SettingsServices::UpdateStatus{};
    updateDetail_->setText(status.text);
    updateDetail_->setVisible(!status.text.isEmpty());
    // Without an updater, or a feed, there is nothing to check with.
    const bool canCheck = connected && status.updatesItself;
    updateButton_->setVisible(canCheck && status.updateReady);
    checkButton_->setVisible(canCheck && !status.updateReady);
    checkButton_->setEnabled(!status.busy);
    bound_->updateAutomatically->setEnabled(!connected || status.updatesItself);
    const bool canSend = !services_.canSendCrashReports || services_.canSendCrashReports();
    bound_->crashReports->setVisible(canSend);
    crashDetail_->setText(
        canSend ? QStringLiteral("A report holds the %1 and Linux versions and where it crashed, never your documents "
                                 "or file names.")
                      .arg(appDisplayName())
                : QStringLiteral("This copy of %1 can't send crash reports: it was built without a report server.")
                      .arg(appDisplayName()));
}

void SettingsView::forgetPositions()
{
    positions_.removeAll(); // no question: the user asked for it
    remembered_ = 0;
    forgetButton_->setEnabled(false);
}

bool SettingsView::focusNextPrevChild(bool next)
{
    // Tab goes round the tab bar, the tab shown and the rest of the window:
    // the hidden tab's controls, and a ring the pages' controls make of
    // their own, would keep it from the tab bar.
    QTabBar* bar = tabs_->tabBar();
    const QWidget* page = tabs_->currentWidget();
    std::vector<QWidget*> stops{bar};
    for (QWidget* w = nextInFocusChain(); w && w != this; w = w->nextInFocusChain())
        if (w != bar && (page->isAncestorOf(w) || !tabs_->isAncestorOf(w))
            && (w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isVisibleTo(this) && w->isEnabled()
            && !w->focusProxy())
            stops.push_back(w);
    const auto at = std::find(stops.begin(), stops.end(), QApplication::focusWidget());
    if (at == stops.end()) return QWidget::focusNextPrevChild(next);
    const auto index = std::size_t(at - stops.begin());
    const std::size_t count = stops.size();
    stops[next ? (index + 1) % count : (index + count - 1) % count]->setFocus(next ? Qt::TabFocusReason
                                                                                   : Qt::BacktabFocusReason);
    return true;
}

void SettingsView::fitToTab()
{
    // The window's height follows the tab on screen, not the taller of the
    // two: QTabWidget measures every tab, so the others' share comes off.
    // Each is measured as the layouts measure it: by its height for the
    // window's width when its lines wrap, as General's do.
    if (QLayout* l = layout()) l->activate();
    const auto tall = [this](const QWidget* w) {
        return w->hasHeightForWidth() ? w->heightForWidth(width()) : w->sizeHint().height();
    };
    int tallest = 0;
    for (int i = 0; i < tabs_->count(); ++i) tallest = std::max(tallest, tall(tabs_->widget(i)));
    const QWidget* page = tabs_->currentWidget();
    setFixedHeight(tall(this) - tallest + (page ? tall(page) : 0));
}

// ---------------------------------------------------------------- window

SettingsWindow& SettingsWindow::shared()
{
    static SettingsWindow* window =
        new SettingsWindow(platform::UserDefaults::standard(), quarnkit::ReadingPositionStore::shared());
    return *window;
}

SettingsWindow::SettingsWindow(platform::UserDefaults& defaults, quarnkit::ReadingPositionStore& positions,
                               SettingsServices services)
    : defaults_(defaults), positions_(positions), services_(std::move(services))
{}

SettingsWindow::~SettingsWindow() { delete window_.data(); }

void SettingsWindow::setServices(SettingsServices services)
{
    services_ = services;
    if (window_) window_->setServices(std::move(services));
}

void SettingsWindow::show()
{
    if (!window_) {
        window_ = new SettingsView(defaults_, positions_, services_);
        window_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                                | Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint);
        exposeAsWindow(window_);
        applyWindowChrome(window_);
        closeWithKeys(window_);
        DocumentController::quitWithKey(*window_);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
        }
        if (QCoreApplication* app = QCoreApplication::instance())
            connect(app, &QCoreApplication::aboutToQuit, window_, &QObject::deleteLater);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace quarn
