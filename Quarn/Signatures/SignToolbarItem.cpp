#include "Quarn/Signatures/SignToolbarItem.h"
#include "Quarn/Signatures/SigningModel.h"

#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Signatures/SignControls.h"
#include "Quarn/Signatures/SignPopover.h"
#include "Quarn/Signatures/SignatureLibrary.h"
#include "Quarn/Signatures/SignatureSheet.h"
#include "Quarn/Viewer/ViewerModel.h"

#include <QHBoxLayout>

namespace quarn {

using quarnkit::Signature;

SignToolbarItem::SignToolbarItem(ViewerModel* model, QWidget* parent, SignatureLibrary* library)
    : QWidget(parent), model_(model), library_(library ? *library : SignatureLibrary::shared())
{
    signview::useSymbols();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    button_ = new ChromeToolButton(QStringLiteral("signature"), tr("Fill and sign"), this);
    button_->setKind(ChromeButton::Kind::toggle);
    row->addWidget(button_);
    connect(button_, &QAbstractButton::clicked, this, [this] { setShowing(!showing_); });
    if (model)
        connect(&SigningModel::of(*model), &SigningModel::signatureSheetChanged, this, &SignToolbarItem::followSheet);
}

SignToolbarItem::~SignToolbarItem()
{
    // The popover goes with the button, after this item has stopped listening.
    if (popover_) disconnect(popover_, nullptr, this, nullptr);
}

SignPopover* SignToolbarItem::popover() const { return popover_; }
SignatureSheet* SignToolbarItem::sheet() const { return sheet_; }

void SignToolbarItem::setShowing(bool showing)
{
    if (showing == showing_) return;
    showing_ = showing;
    button_->setChosen(showing);
    if (showing) {
        const QPointer<SignToolbarItem> self(this);
        popover_ = new SignPopover(
            model_, library_,
            [self](Signature::Kind kind) {
                if (!self) return;
                self->pendingSheet_ = kind;
                self->setShowing(false);
            },
            [self] {
                if (self) self->setShowing(false);
            },
            button_);
        connect(popover_, &SignPopover::closed, this, &SignToolbarItem::popoverClosed);
        popover_->present();
    } else {
        if (popover_) popover_->close();
        popoverClosed();
    }
}

void SignToolbarItem::popoverClosed()
{
    // Closed by the system (Escape, a click elsewhere) or by the popover itself.
    if (showing_) {
        showing_ = false;
        button_->setChosen(false);
    }
    if (!pendingSheet_) return;
    const Signature::Kind kind = *std::exchange(pendingSheet_, std::nullopt);
    // The sheet opens once the popover has gone, on a later turn.
    QMetaObject::invokeMethod(
        this,
        [this, kind] {
            if (model_) SigningModel::of(*model_).presentSignatureSheet(kind);
        },
        Qt::QueuedConnection);
}

void SignToolbarItem::followSheet(std::optional<Signature::Kind> kind)
{
    if (!kind) {
        if (sheet_) sheet_->reject();
        return;
    }
    if (sheet_) {
        sheet_->setKind(*kind);
        return;
    }
    const QPointer<ViewerModel> model = model_;
    SignatureLibrary* library = &library_;
    sheet_ = new SignatureSheet(
        *kind,
        [model, library](const Signature& signature) {
            library->add(signature); // a failure goes back to the sheet, which shows it
            // Placed once the sheet has closed.
            QMetaObject::invokeMethod(
                library,
                [model, signature] {
                    if (model) SigningModel::of(*model).placeSignature(signature);
                },
                Qt::QueuedConnection);
        },
        window());
    sheet_->setAttribute(Qt::WA_DeleteOnClose);
    connect(sheet_, &QDialog::finished, this, [this] {
        sheet_ = nullptr; // it closes itself; the model only hears of it
        if (model_) SigningModel::of(*model_).setSignatureSheet(std::nullopt);
    });
    sheet_->open();
}

} // namespace quarn
