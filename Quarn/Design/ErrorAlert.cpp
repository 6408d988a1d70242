#include "Quarn/Design/ErrorAlert.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>

namespace quarn {

namespace {

// The window a question asked from `from` stands on: from's window, or the
// topmost modal dialog shown over it (an open sheet), which would otherwise
// keep the keys from both the window and the question.
QWidget* ownerFor(QWidget* from, const QWidget* box)
{
    QWidget* owner = from ? from->window() : QApplication::activeWindow();
    if (!owner) owner = QApplication::activeModalWidget();
    while (owner && !owner->isVisible()) owner = owner->parentWidget() ? owner->parentWidget()->window() : nullptr;
    for (bool deeper = true; owner && deeper;) {
        deeper = false;
        for (QObject* child : owner->children()) {
            auto* over = qobject_cast<QWidget*>(child);
            if (over && over != box && over->isWindow() && over->isVisible() && over->isModal()) {
                owner = over;
                deeper = true;
                break;
            }
        }
    }
    return owner;
}

// The widget the keys were on in `owner` as the question was asked.
QWidget* keysIn(QWidget* owner)
{
    QWidget* focus = QApplication::focusWidget();
    if (!owner || (focus && focus->window() == owner)) return focus;
    return owner->focusWidget() ? owner->focusWidget() : owner;
}

// Puts `box` on its owner, modal to it (or to the application with none),
// and gives the keys back where they were once it has closed.
void prepare(QMessageBox& box, QWidget* from)
{
    QWidget* owner = ownerFor(from, &box);
    if (box.parentWidget() != owner) box.setParent(owner, box.windowFlags());
    box.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
    QObject::connect(&box, &QDialog::finished, &box, [back = QPointer<QWidget>(keysIn(owner))] {
        if (!back || !back->isVisible() || !back->isEnabled()) return;
        back->window()->activateWindow();
        back->setFocus(Qt::OtherFocusReason);
    });
}

// Shown: the box takes the keys, on its default button (else its first).
void takeKeys(QMessageBox& box)
{
    box.raise();
    box.activateWindow();
    QAbstractButton* first = box.defaultButton();
    if (!first && !qobject_cast<QAbstractButton*>(box.focusWidget()) && !box.buttons().isEmpty())
        first = box.buttons().constFirst();
    if (first) first->setFocus(Qt::ActiveWindowFocusReason);
    // Qt makes the default button the row's focus proxy: a reader would hear
    // the row focused as well as the button.
    if (auto* row = box.findChild<QDialogButtonBox*>()) row->setFocusProxy(nullptr);
}

} // namespace

void showErrorAlert(QWidget* over, const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ravlen"),
                                QMessageBox::tr("ravlen couldn't finish that."), QMessageBox::Ok, over);
    setPlainTexts(*box, box->text(), description);
    openAlert(box, over);
}

QAbstractButton* askAndWait(QMessageBox& box, QWidget* from)
{
    prepare(box, from);
    QEventLoop answered;
    QObject::connect(&box, &QDialog::finished, &answered, &QEventLoop::quit);
    QObject::connect(&box, &QObject::destroyed, &answered, &QEventLoop::quit); // gone with its window
    box.show();
    takeKeys(box);
    const QPointer<QMessageBox> held(&box);
    answered.exec(QEventLoop::DialogExec);
    return held ? held->clickedButton() : nullptr;
}

void openAlert(QMessageBox* box, QWidget* from)
{
    box->setAttribute(Qt::WA_DeleteOnClose);
    prepare(*box, from);
    box->show();
    takeKeys(*box);
}

void setPlainTexts(QMessageBox& box, const QString& text, const QString& informativeText)
{
    box.setTextFormat(Qt::PlainText); // the box's own format reaches its first line only
    box.setText(text);
    box.setInformativeText(informativeText);
    if (auto* second = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        second->setTextFormat(Qt::PlainText);
}

int widthForTitle(const QMessageBox& box, const QString& title)
{
    // The title as the title bar shows it (Qt adds the application's name),
    // set bold, beside the bar's icon and three buttons and its margins.
    constexpr int titleBarButtons = 150;
    QFont bold = box.font();
    bold.setBold(true);
    const QString shown = title + QStringLiteral(" \u2014 ") + QGuiApplication::applicationDisplayName();
    return QFontMetrics(bold).horizontalAdvance(shown) + titleBarButtons;
}

void makeRoomForTitle(QMessageBox& box)
{
    // The box sizes itself to its layout's least width when shown: a spacer
    // that wide across the whole grid makes it so.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    grid->addItem(new QSpacerItem(widthForTitle(box, box.windowTitle()), 0, QSizePolicy::Fixed, QSizePolicy::Fixed),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace quarn
