#include "Quarn/Design/ErrorAlert.h"

#include <QMessageBox>

namespace quarn {

void showErrorAlert(QWidget* over, const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("ravlen"),
                                QMessageBox::tr("ravlen couldn't finish that."), QMessageBox::Ok, over);
    box->setInformativeText(description);
    box->setAttribute(Qt::WA_DeleteOnClose);
    if (over && over->isVisible()) {
        box->setWindowModality(Qt::WindowModal);
        box->open();
    } else {
        box->setWindowModality(Qt::ApplicationModal);
        box->show();
    }
}

} // namespace quarn
