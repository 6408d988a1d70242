#include "Quarn/Crash/CrashReportWindow.h"

#include "Quarn/Crash/CrashReporter.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/WindowChrome.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Shell/WindowEvents.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

// The button bar's raised background.
class ButtonBar : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), D::chrome()); }
};

QLabel* wrapping(QLabel* label)
{
    label->setWordWrap(true);
    return label;
}

} // namespace

CrashReportPrompt::CrashReportPrompt(CrashReporter& reporter, const QString& appName, QWidget* parent) : QWidget(parent)
{
    setFixedWidth(width);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* message = new QHBoxLayout;
    message->setContentsMargins(24, 28, 24, 22);
    message->setSpacing(16);
    message->addWidget(PageMark::inSquare(42), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    title_ = wrapping(shelltext::label(appName + QStringLiteral(" quit unexpectedly last time."),
                                       uiFont(17, QFont::DemiBold), D::paper()));
    explanation_ = wrapping(shelltext::label(QStringLiteral("A report holds the ") + appName
                                                 + QStringLiteral(" and Linux versions and where it crashed, never "
                                                                  "your documents or file names."),
                                             uiFont(13), shelltext::secondary()));
    sendAutomatically_ = new QCheckBox(QStringLiteral("Send automatically from now on"));
    sendAutomatically_->setFont(uiFont(12));
    sendAutomatically_->setChecked(reporter.sendAutomatically());
    connect(sendAutomatically_, &QCheckBox::toggled, &reporter, &CrashReporter::setSendAutomatically);
    connect(&reporter, &CrashReporter::sendAutomaticallyChanged, sendAutomatically_, &QCheckBox::setChecked);
    texts->addWidget(title_);
    texts->addWidget(explanation_);
    texts->addSpacing(10);
    texts->addWidget(sendAutomatically_, 0, Qt::AlignLeft);
    message->addLayout(texts, 1);
    column->addLayout(message);

    column->addWidget(new Hairline(false));

    auto* bar = new ButtonBar;
    bar->setFixedHeight(52);
    auto* buttons = new QHBoxLayout(bar);
    buttons->setContentsMargins(24, 0, 24, 0);
    buttons->setSpacing(10);
    buttons->addStretch(1);
    dontSend_ = new QuietButton(QStringLiteral("Don't Send"));
    send_ = new AccentButton(QStringLiteral("Send"));
    connect(dontSend_, &QAbstractButton::clicked, &reporter, &CrashReporter::dontSend);
    connect(send_, &QAbstractButton::clicked, &reporter, &CrashReporter::send);
    buttons->addWidget(dontSend_, 0, Qt::AlignVCenter);
    buttons->addWidget(send_, 0, Qt::AlignVCenter);
    column->addWidget(bar);
}

CrashReportWindow::CrashReportWindow(CrashReporter& reporter, const QString& appName)
    : reporter_(reporter), prompt_(new CrashReportPrompt(reporter, appName, this))
{
    // A dialog of its own: a title and a close button, nothing to minimise or maximise.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);
    setWindowTitle(QStringLiteral("Crash Report"));
    applyWindowChrome(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(prompt_);
    // The width is fixed; the height follows the wrapped texts.
    layout->setSizeConstraint(QLayout::SetFixedSize);

    WindowEvents::returnRuns(*this, [this] { reporter_.send(); });
    for (const QKeySequence& key : QList<QKeySequence>{QKeySequence(Qt::Key_Escape)}
                                       + quarnkit::KeyboardShortcuts::keys(quarnkit::ShortcutCommand::closeWindow)) {
        auto* shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, &reporter_, &CrashReporter::dontSend);
    }
}

CrashReportWindow::~CrashReportWindow() { WindowEvents::forget(*this); }

void CrashReportWindow::present()
{
    if (!isVisible()) {
        adjustSize();
        const QScreen* screen = QApplication::primaryScreen();
        if (screen) move(screen->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    // The key window of ravlen when ravlen is in front; another application
    // keeps the focus it has.
    if (QApplication::activeWindow()) activateWindow();
}

void CrashReportWindow::closeEvent(QCloseEvent* event)
{
    // The close button comes from the window system; the application closing
    // its windows on the way out does not.
    if (event->spontaneous()) reporter_.dontSend();
    event->accept();
}

} // namespace quarn
