#include "Quarn/Viewer/ToolbarItems.h"

#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Viewer/StatusBar.h"
#include "Quarn/Viewer/ViewerModel.h"

#include <QApplication>
#include <QHBoxLayout>

namespace quarn {

DocumentToolbarItems::DocumentToolbarItems(ViewerModel* model, QWidget* parent) : QWidget(parent), model_(model)
{
    registerViewerBarSymbols();
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    share_ = new ChromeToolButton(QStringLiteral("square.and.arrow.up"), tr("Share"), this);
    info_ = new ChromeToolButton(QStringLiteral("info.circle"), tr("Document info"), this);
    info_->setKind(ChromeButton::Kind::toggle);
    row->addWidget(share_);
    row->addWidget(info_);
    connect(share_, &QAbstractButton::clicked, this, [this] { emit shareRequested(share_); });
    connect(info_, &QAbstractButton::clicked, this, &DocumentToolbarItems::toggleInfo);
}

void DocumentToolbarItems::setInfoPresented(bool presented)
{
    if (presented == infoPresented_) return;
    infoPresented_ = presented;
    info_->setChosen(presented);
    emit infoPresentedChanged(presented);
}

bool DocumentToolbarItems::toggleInfo()
{
    const quarnkit::QuarnDocument* document = model_ ? model_->document() : nullptr;
    // A locked PDF or one without pages has no facts to show.
    if (!document || document->isLocked() || document->pageCount() < 1) {
        QApplication::beep();
        emit infoRefused();
        return false;
    }
    setInfoPresented(!infoPresented_);
    return true;
}

} // namespace quarn
