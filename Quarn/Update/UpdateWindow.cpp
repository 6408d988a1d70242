#include "Quarn/Update/UpdateWindow.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Spinner.h"
#include "Quarn/Design/WindowChrome.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Update/UpdateController.h"
#include "Quarn/Update/UpdateTexts.h"
#include "Quarn/Update/UpdateViews.h"
#include "QuarnKit/Shell/Design.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <utility>

// The resources live in a static library; naming their initialisers keeps the
// linker from dropping them.
static void initUpdateSymbols()
{
    Q_INIT_RESOURCE(UpdateSymbols);
    Q_INIT_RESOURCE(StatusBarSymbols); // "info.circle"
}

namespace quarn {

namespace D = quarnkit::Design;
using Kind = UpdateState::Kind;

namespace {

// `widget` below `space` points of room, hidden until it has something to show.
QWidget* spaced(QWidget* widget, int space)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, space, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(widget);
    box->hide();
    return box;
}

bool showsOffer(Kind kind)
{
    switch (kind) {
    case Kind::available:
    case Kind::downloading:
    case Kind::failed:
    case Kind::verifying:
    case Kind::readyToInstall:
    case Kind::installing: return true;
    default: return false;
    }
}

} // namespace

// ---------------------------------------------------------------- panel

UpdateView::UpdateView(UpdateController& updates, QWidget* parent) : QWidget(parent), updates_(updates)
{
    static const bool resources = (initUpdateSymbols(), true);
    (void)resources;
    setWindowTitle(QStringLiteral("Software Update"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, D::window());
    setPalette(pal);
    new WindowChrome(this);

    auto* panel = new QVBoxLayout(this);
    panel->setContentsMargins(0, 0, 0, 0);
    panel->setSpacing(0);
    panel->setSizeConstraint(QLayout::SetNoConstraint);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(24, 28, 24, 24);
    column->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(PageMark::inSquare(42), 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    heading_ = shelltext::label(QString(), uiFont(17, QFont::DemiBold), D::paper());
    heading_->setWordWrap(true);
    subtitle_ = shelltext::label(QString(), uiFont(13), shelltext::secondary());
    subtitle_->setWordWrap(true);
    titles->addWidget(heading_);
    titles->addWidget(subtitle_);
    header->addLayout(titles, 1);
    spinner_ = new Spinner(16, QString());
    header->addWidget(spinner_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    notes_ = new ReleaseNotes;
    notesBox_ = spaced(notes_, 20);
    blocker_ = new InfoLine;
    blockerBox_ = spaced(blocker_, 16);
    progress_ = new DownloadProgress;
    progressBox_ = spaced(progress_, 18);
    stateLine_ = new InfoLine;
    stateLineBox_ = spaced(stateLine_, 18);
    noteLine_ = new InfoLine;
    noteBox_ = spaced(noteLine_, 14);
    for (QWidget* box : {notesBox_, blockerBox_, progressBox_, stateLineBox_, noteBox_}) column->addWidget(box);
    panel->addWidget(content);
    panel->addWidget(new Hairline(false));

    auto* buttonRow = new QWidget;
    buttonRow->setFixedHeight(52);
    fillWithChrome(buttonRow);
    auto* buttons = new QHBoxLayout(buttonRow);
    // The leading button sits 8 points further out than the row's inset of 24.
    buttons->setContentsMargins(16, 0, 24, 0);
    buttons->setSpacing(10);
    skip_ = new QuietButton(QStringLiteral("Skip This Version"));
    buttons->addWidget(skip_);
    buttons->addStretch(1);
    quiet_ = new QuietButton(QString());
    accent_ = new AccentButton(QString());
    buttons->addWidget(quiet_);
    buttons->addWidget(accent_);
    panel->addWidget(buttonRow);

    connect(skip_, &QAbstractButton::clicked, this, [this] { run(Action::skip); });
    connect(quiet_, &QAbstractButton::clicked, this, [this] { run(quietRole_.action); });
    connect(accent_, &QAbstractButton::clicked, this, [this] { run(accentRole_.action); });
    // Return and Escape act wherever the focus is in the window.
    WindowEvents::returnRuns(*this, [this] {
        if (accentRole_.key && accent_->isVisible() && accent_->isEnabled()) run(accentRole_.action);
    });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (quietRole_.key && quiet_->isVisible()) run(quietRole_.action);
    });

    connect(&updates_, &UpdateController::changed, this, &UpdateView::refresh);
    refresh();
}

UpdateView::~UpdateView() { WindowEvents::forget(*this); }

void UpdateView::run(Action action)
{
    switch (action) {
    case Action::none: return;
    case Action::hide: emit hideRequested(); return;
    case Action::check: updates_.check(UpdateTrigger::menu); return;
    case Action::cancelCheck:
        updates_.cancelCheck();
        emit hideRequested();
        return;
    case Action::later:
        updates_.later();
        emit hideRequested();
        return;
    case Action::skip: updates_.skip(); return;
    case Action::install: updates_.install(); return;
    case Action::retry: updates_.retry(); return;
    }
}

void UpdateView::refresh()
{
    const UpdateState& state = updates_.state();
    // A new state eases the panel to its new height; new texts alone do not.
    if (state.kind != shownKind_) {
        easeNextFit_ = shownKind_.has_value();
        shownKind_ = state.kind;
    }
    const UpdateEnvironment& environment = updates_.environment();
    const QString& name = environment.displayName;
    const QString current = environment.current.version;
    const auto& offered = updates_.offered();
    const QString offeredVersion = offered ? offered->version : QString();
    const auto blocker = updates_.blocker();
    const auto build = updates_.chipBuild();
    const qint64 archiveSize = build ? build->update.size : 0;

    if (!updates_.updatesItself()) {
        showCannotUpdate(name, current);
        return;
    }

    // Heading and subtitle.
    QString heading, subtitle = QStringLiteral("You have ") + current + u'.';
    switch (state.kind) {
    case Kind::idle:
        heading = name + u' ' + current;
        subtitle = QStringLiteral("Check for a newer version.");
        break;
    case Kind::checking:
        heading = QStringLiteral("Checking for updates…");
        subtitle = QStringLiteral("This takes a moment.");
        break;
    case Kind::upToDate:
        heading = QStringLiteral("You're up to date.");
        subtitle = name + u' ' + current + QStringLiteral(" is the newest version.");
        break;
    case Kind::needsNewerSystem:
        heading = state.feed ? updatetexts::needsNewerSystem(name, *state.feed) : QString();
        subtitle = updatetexts::thisSystem(environment.systemName, environment.system);
        break;
    case Kind::failed:
        heading = offered ? name + u' ' + offeredVersion + QStringLiteral(" is available.")
                          : QStringLiteral("Couldn't check for updates.");
        break;
    default: heading = name + u' ' + offeredVersion + QStringLiteral(" is available."); break;
    }
    heading_->setText(heading);
    subtitle_->setText(subtitle);
    const bool busy = state.kind == Kind::checking || state.kind == Kind::verifying || state.kind == Kind::installing;
    setReaderName(spinner_, heading);
    spinner_->setVisible(busy);

    // The offer: notes and why this copy cannot replace itself.
    const bool offer = offered && showsOffer(state.kind);
    notes_->setNotes(offer ? offered->notes : QStringList());
    notesBox_->setVisible(offer && !offered->notes.isEmpty());
    if (offer && blocker) blocker_->set(QStringLiteral("info.circle"), quarnkit::message(*blocker, name), D::accent());
    blockerBox_->setVisible(offer && blocker);

    // What the state adds.
    progressBox_->setVisible(state.kind == Kind::downloading || state.kind == Kind::verifying);
    if (state.kind == Kind::downloading) progress_->set(state.fraction, archiveSize, std::nullopt);
    if (state.kind == Kind::verifying) progress_->set(1.0, archiveSize, QStringLiteral("Checking the download…"));
    stateLineBox_->setVisible(state.kind == Kind::failed || state.kind == Kind::installing);
    if (state.kind == Kind::failed)
        stateLine_->set(QStringLiteral("exclamationmark.triangle.fill"), state.message, D::record());
    if (state.kind == Kind::installing)
        stateLine_->set(QStringLiteral("arrow.triangle.2.circlepath"),
                        name + QStringLiteral(" will reopen in a moment."), withOpacity(D::paper(), 0.6));
    const auto& note = updates_.note();
    if (note) noteLine_->set(QStringLiteral("doc"), *note, withOpacity(D::paper(), 0.6));
    noteBox_->setVisible(note.has_value());

    // The buttons.
    const QString main = state.kind == Kind::failed ? QStringLiteral("Try Again")
                         : blocker                  ? QStringLiteral("Download")
                                                    : QStringLiteral("Install and Relaunch");
    switch (state.kind) {
    case Kind::idle:
        setButtons(false, Button{QStringLiteral("Close"), Action::hide, true, true},
                   Button{QStringLiteral("Check for Updates"), Action::check, true, true});
        break;
    case Kind::checking:
        setButtons(false, Button{QStringLiteral("Cancel"), Action::cancelCheck, true, true}, std::nullopt);
        break;
    case Kind::upToDate:
    case Kind::needsNewerSystem:
        setButtons(false, std::nullopt, Button{QStringLiteral("OK"), Action::hide, true, true});
        break;
    case Kind::available:
    case Kind::readyToInstall:
        setButtons(true, Button{QStringLiteral("Later"), Action::later, true, true},
                   Button{main, Action::install, true, true});
        break;
    case Kind::failed:
        if (offered)
            setButtons(true, Button{QStringLiteral("Later"), Action::later, true, true},
                       Button{main, Action::retry, true, true});
        else
            setButtons(false, Button{QStringLiteral("Close"), Action::later, true, true},
                       Button{QStringLiteral("Try Again"), Action::retry, true, true});
        break;
    case Kind::downloading:
    case Kind::verifying:
        setButtons(false, Button{QStringLiteral("Cancel"), Action::later, true, true},
                   Button{main, Action::none, false, false});
        break;
    case Kind::installing:
        setButtons(false, std::nullopt, Button{QStringLiteral("Installing…"), Action::none, false, false});
        break;
    }
    fitToContent();
}

void UpdateView::showCannotUpdate(const QString& name, const QString& current)
{
    heading_->setText(name + QStringLiteral(" doesn't update itself."));
    subtitle_->setText(QStringLiteral("This copy was built without an update feed. You have ") + current
                       + QStringLiteral(". Install new versions the way you installed this one."));
    spinner_->setVisible(false);
    for (QWidget* box : {notesBox_, blockerBox_, progressBox_, stateLineBox_, noteBox_}) box->setVisible(false);
    setButtons(false, std::nullopt, Button{QStringLiteral("OK"), Action::hide, true, true});
    fitToContent();
}

void UpdateView::setButtons(bool skip, const std::optional<Button>& quiet, const std::optional<Button>& accent)
{
    skip_->setVisible(skip);
    quietRole_ = quiet.value_or(Button{});
    accentRole_ = accent.value_or(Button{});
    quiet_->setText(quietRole_.title);
    quiet_->setVisible(quiet.has_value());
    accent_->setText(accentRole_.title);
    accent_->setEnabled(accentRole_.enabled);
    accent_->setVisible(accent.has_value());
}

void UpdateView::fitToContent()
{
    // Shown and hidden lines and new texts reach the layouts' measures only
    // with the next event turn; the size is wanted now, so all are forgotten.
    for (QWidget* w : findChildren<QWidget*>()) w->updateGeometry();
    for (QLayout* l : findChildren<QLayout*>()) l->invalidate();
    if (QLayout* l = layout()) l->activate();
    const int wanted =
        layout() && layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(panelWidth) : sizeHint().height();
    // A size out of reason leaves the window as it is.
    if (wanted <= 1 || wanted >= 2000) return;
    const bool ease = std::exchange(easeNextFit_, false) && isVisible() && !motion::reduced();
    if (width() == panelWidth && height() == wanted && minimumHeight() == wanted) return;
    if (ease && width() == panelWidth) {
        if (!resize_) {
            resize_ = new QVariantAnimation(this);
            resize_->setDuration(150);
            resize_->setEasingCurve(QEasingCurve::OutCubic);
            connect(resize_, &QVariantAnimation::valueChanged, this,
                    [this](const QVariant& h) { setFixedSize(panelWidth, h.toInt()); });
        }
        resize_->stop();
        resize_->setStartValue(height());
        resize_->setEndValue(wanted);
        resize_->start();
        return;
    }
    if (resize_) resize_->stop();
    setFixedSize(panelWidth, wanted);
}

bool UpdateView::easing() const { return resize_ && resize_->state() == QAbstractAnimation::Running; }

QString UpdateView::heading() const { return heading_->text(); }

QString UpdateView::subtitle() const { return subtitle_->text(); }

QList<QAbstractButton*> UpdateView::shownButtons() const
{
    QList<QAbstractButton*> shown;
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(skip_), static_cast<QAbstractButton*>(quiet_),
                                    static_cast<QAbstractButton*>(accent_)})
        if (!button->isHidden()) shown << button;
    return shown;
}

bool UpdateView::spinnerShown() const { return !spinner_->isHidden(); }

void UpdateView::closeEvent(QCloseEvent* event)
{
    // The title bar's close button: the user chose to wait.
    updates_.later();
    event->accept();
}

void UpdateView::hideEvent(QHideEvent* event)
{
    // Nobody sees an ease while the window is away: it takes its height now.
    if (easing()) {
        resize_->stop();
        setFixedSize(panelWidth, resize_->endValue().toInt());
    }
    QWidget::hideEvent(event);
}

// ---------------------------------------------------------------- holder

UpdateWindow& UpdateWindow::shared()
{
    static UpdateWindow* window = new UpdateWindow(UpdateController::shared());
    return *window;
}

UpdateWindow::UpdateWindow(UpdateController& updates, QObject* parent) : QObject(parent), updates_(updates) {}

UpdateWindow::~UpdateWindow() { delete window_.data(); }

void UpdateWindow::show(bool activate)
{
    bool visible = false;
    if (window_) {
        visible = window_->isVisible();
    } else {
        window_ = new UpdateView(updates_);
        window_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
        applyWindowChrome(window_);
        DocumentController::quitWithKey(*window_);
        connect(window_, &UpdateView::hideRequested, this, &UpdateWindow::hide);
        if (QCoreApplication* app = QCoreApplication::instance())
            connect(app, &QCoreApplication::aboutToQuit, window_, &QObject::deleteLater);
    }
    window_->fitToContent();
    if (!visible)
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
        }
    if (activate) {
        window_->show();
        window_->raise();
        window_->activateWindow();
        return;
    }
    // In front, but the keyboard stays with the window the user is in.
    window_->setAttribute(Qt::WA_ShowWithoutActivating, true);
    window_->show();
    window_->raise();
    window_->setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void UpdateWindow::hide()
{
    if (window_) window_->hide();
}

} // namespace quarn
