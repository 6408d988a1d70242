#include "Quarn/Design/ErrorAlert.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QSpacerItem>

namespace quarn {

void showErrorAlert(QWidget* over, const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ravlen"),
                                QMessageBox::tr("ravlen couldn't finish that."), QMessageBox::Ok, over);
    setPlainTexts(*box, box->text(), description);
    openAlert(box, over);
}

void openAlert(QMessageBox* box, QWidget* over)
{
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (over && over->isVisible()) {
        box->setWindowModality(Qt::WindowModal);
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
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
