#include "Quarn/Shell/DefaultAppQuestion.h"
#include "Quarn/Design/ErrorAlert.h"

#include <QMessageBox>
#include <QPushButton>

#include <memory>
#include <utility>

namespace quarn {

void askToUseRavlenForPdfs(QWidget* window, std::function<void(bool)> answer)
{
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Default PDF app"),
                                QStringLiteral("Use ravlen to open PDF files?"), QMessageBox::NoButton, window);
    box->setInformativeText(QStringLiteral("PDF files opened from Files and other apps will open in ravlen."));
    QPushButton* use = box->addButton(QStringLiteral("Use ravlen"), QMessageBox::AcceptRole);
    box->addButton(QMessageBox::Cancel);
    box->setDefaultButton(use);
    makeRoomForTitle(*box);
    // The answer is given once: on the user's choice, or as a refusal when the
    // question goes away unanswered with its window.
    auto pending = std::make_shared<std::function<void(bool)>>(std::move(answer));
    QObject::connect(box, &QMessageBox::finished, box, [box, use, pending] {
        if (auto give = std::exchange(*pending, nullptr)) give(box->clickedButton() == use);
    });
    QObject::connect(box, &QObject::destroyed, [pending] {
        if (auto give = std::exchange(*pending, nullptr)) give(false);
    });
    openAlert(box, window);
}

} // namespace quarn
