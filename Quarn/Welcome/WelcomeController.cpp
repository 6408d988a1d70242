#include "Quarn/Welcome/WelcomeController.h"

#include "Quarn/App/DocumentController.h"
#include "Quarn/Pages/PagesMenu.h"
#include "Quarn/Shell/QuarnCommands.h"
#include "Quarn/Signatures/SignCommands.h"
#include "Quarn/Update/UpdateCommands.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QMenuBar>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace quarn {

using quarnkit::ShortcutCommand;
namespace Keys = quarnkit::KeyboardShortcuts;

// ---------------------------------------------------------------- window

WelcomeWindow::WelcomeWindow(const WelcomeServices& services, WelcomeController& controller)
    : controller_(controller), view_(new WelcomeView(services, this))
{
    setWindowTitle(tr("Welcome to ravlen"));
    setObjectName(QStringLiteral("ravlenWelcome"));
    // Sized by its content, never by the user.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, quarnkit::Design::window());
    setPalette(pal);
    setCentralWidget(view_);

    // Its own menus: the document system's File items, then the application's
    // command sets with no document to act on.
    QMenu* file = menuBar()->addMenu(tr("&File"));
    if (DocumentController* documents = services.documents) {
        QAction* open = file->addAction(tr("Open…"), documents, &DocumentController::runOpenPanel);
        open->setShortcut(Keys::menuKey(ShortcutCommand::open));
    }
    file->addSeparator();
    QAction* close = file->addAction(tr("Close"), this, &QWidget::close);
    close->setShortcut(Keys::menuKey(ShortcutCommand::closeWindow));
    file->addSeparator();
    if (DocumentController* documents = services.documents) {
        QAction* quit = file->addAction(tr("Quit ravlen"), documents, &DocumentController::quit);
        quit->setShortcut(Keys::menuKey(ShortcutCommand::quit));
    }
    auto* commands = new QuarnCommands(menuBar(), nullptr, this);
    commands->insertMenu((new SignCommands(nullptr, commands))->menu());
    new PageCommands(*commands, nullptr, commands);
    new UpdateCommands(*commands, commands);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    // The view's size is fixed, so its layout's requests stop at the view.
    view_->installEventFilter(this);
}

bool WelcomeWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The content asked for a new size: a card row, the banner or the results came or went.
    if (watched == view_ && event->type() == QEvent::LayoutRequest) controller_.refit();
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------- controller

WelcomeController::WelcomeController(WelcomeServices services, QObject* parent)
    : QObject(parent), services_(std::move(services))
{
    // A document window that appears takes the welcome window's place.
    if (DocumentController* documents = services_.documents) {
        windowsSeen_ = documents->windows().size();
        connect(documents, &DocumentController::windowsChanged, this, [this, documents] {
            const size_t now = documents->windows().size();
            if (now > windowsSeen_) hide();
            windowsSeen_ = now;
        });
    }
}

WelcomeController::~WelcomeController() { delete window_.data(); }

WelcomeController& WelcomeController::shared()
{
    static WelcomeController* controller = new WelcomeController(WelcomeServices::application());
    return *controller;
}

void WelcomeController::show()
{
    if (!window_) {
        window_ = new WelcomeWindow(services_, *this);
        // The keys go to the search field only when Explore asks for them;
        // until then to the first control, which a screen reader names.
        window_->view()->focusFirst();
    } else if (window_->isVisible()) {
        // On screen already, so no show event: the recents and the default-app row are read again here.
        window_->view()->willShow();
    }
    // A window that comes back on screen is centred again; one on screen stays put.
    fit(!window_->isVisible());
    window_->show();
    window_->raise();
    window_->activateWindow();
    refit();
}

void WelcomeController::show(bool focusSearch)
{
    show();
    if (!focusSearch) return;
    // Once the window and its view are in place, also on the very first show.
    QTimer::singleShot(0, this, [this] {
        if (window_) window_->view()->focusSearch();
    });
}

void WelcomeController::hide()
{
    if (window_ && window_->isVisible()) window_->hide();
}

void WelcomeController::refit()
{
    if (refitQueued_) return;
    refitQueued_ = true;
    // After the change that asked for it has been laid out.
    QTimer::singleShot(0, this, [this] {
        refitQueued_ = false;
        fit(false);
    });
}

int WelcomeController::contentHeight() const
{
    if (!window_) return 0;
    WelcomeView* view = window_->view();
    const int height =
        view->hasHeightForWidth() ? view->heightForWidth(WelcomeView::contentWidth) : view->sizeHint().height();
    return height > minimumHeight && height < maximumHeight ? height : 0;
}

void WelcomeController::fit(bool centerWindow)
{
    // A section shown or hidden has asked its parents to lay out again, and
    // until they have, the view's height still counts the section as it was:
    // the window would grow for a moment (and move up at the screen's
    // bottom) on its way to the right height.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const int height = contentHeight();
    if (window_ && height > 0 && window_->view()->size() != QSize(WelcomeView::contentWidth, height)) {
        const QPoint topLeft = window_->pos();
        window_->view()->setFixedSize(WelcomeView::contentWidth, height);
        window_->layout()->activate();
        // A visible window grows and shrinks downward, but not past the
        // bottom of its screen: it then moves up as far as it must.
        if (!centerWindow && window_->isVisible()) {
            QPoint place = topLeft;
            if (const QScreen* screen = window_->screen()) {
                const QRect visible = screen->availableGeometry();
                const int below = place.y() + window_->frameGeometry().height() - (visible.bottom() + 1);
                if (below > 0) place.setY(std::max(visible.top(), place.y() - below));
            }
            window_->move(place);
        }
    }
    if (centerWindow) center();
}

void WelcomeController::center()
{
    if (!window_) return;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect visible = screen->availableGeometry();
    const QSize frame = window_->frameGeometry().size();
    window_->move(int(visible.center().x() - frame.width() * 0.5),
                  int(visible.center().y() - frame.height() * 0.5 - visible.height() * lift));
}

} // namespace quarn
