#include "Quarn/Design/WindowChrome.h"

#include "Quarn/Design/Appearance.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QEvent>
#include <QPointer>
#include <QShortcut>
#include <QTimer>

namespace quarn {

void closeWithKeys(QWidget* window)
{
    QList<QKeySequence> keys{QKeySequence(Qt::Key_Escape)};
    keys << quarnkit::KeyboardShortcuts::keys(quarnkit::ShortcutCommand::closeWindow);
    for (const QKeySequence& key : keys) {
        auto* shortcut = new QShortcut(key, window);
        shortcut->setContext(Qt::WindowShortcut);
        QObject::connect(shortcut, &QShortcut::activated, window, &QWidget::close);
    }
}

void applyWindowChrome(QWidget* window)
{
    if (!window) return;
    // Each application sets the same values, so repeating it changes nothing.
    QPalette palette = darkPalette();
    palette.setColor(QPalette::Window, quarnkit::Design::window());
    if (window->palette() != palette) window->setPalette(palette);
    if (!window->autoFillBackground()) window->setAutoFillBackground(true);
}

WindowChrome::WindowChrome(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_DontShowOnScreen);
    setFixedSize(0, 0);
    applySoon();
}

void WindowChrome::applySoon()
{
    QPointer<WindowChrome> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self) self->apply();
    });
}

void WindowChrome::apply()
{
    // A probe that sits in no window (made but not placed yet) changes nothing.
    if (!parentWidget()) return;
    QWidget* host = window();
    host->installEventFilter(this); // installing again only moves it to the front
    applyWindowChrome(host);
}

bool WindowChrome::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && watched == window()) applySoon();
    return QWidget::eventFilter(watched, event);
}

bool WindowChrome::event(QEvent* event)
{
    const bool result = QWidget::event(event);
    switch (event->type()) {
    case QEvent::ParentChange: apply(); break;
    case QEvent::Show:
    case QEvent::Polish: applySoon(); break;
    default: break;
    }
    return result;
}

} // namespace quarn
