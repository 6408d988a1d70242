#include "Quarn/Shell/ColorPanelBridge.h"

#include <QCoreApplication>
#include <QColorDialog>

namespace quarn {

using quarnkit::RGBA;

ColorPanelBridge& ColorPanelBridge::shared()
{
    // Never released: the panel's window must not outlive the application
    // object, so it is taken down when the application quits (see show()).
    static ColorPanelBridge* bridge = new ColorPanelBridge;
    return *bridge;
}

ColorPanelBridge::ColorPanelBridge() = default;

QColorDialog* ColorPanelBridge::panel() const { return panel_; }

ColorPanelBridge::~ColorPanelBridge()
{
    disconnect(ownerGone_);
    delete panel_.data();
}

void ColorPanelBridge::show(const RGBA& color, QObject* owner, Apply apply)
{
    if (!panel_) {
        panel_ = new QColorDialog;
        panel_->setWindowTitle(QStringLiteral("Colors"));
        panel_->setModal(false);
        // The platform's own chooser reports only the final colour; ours
        // reports every step, and has no buttons: a live panel, closed by its window.
        panel_->setOptions(QColorDialog::DontUseNativeDialog | QColorDialog::NoButtons);
        connect(panel_, &QColorDialog::currentColorChanged, this, &ColorPanelBridge::colorChanged);
        if (QCoreApplication* app = QCoreApplication::instance())
            connect(app, &QCoreApplication::aboutToQuit, panel_, &QObject::deleteLater);
    }
    // Release the previous caller before the panel changes, so that setting
    // the new colour reaches no one.
    disconnect(ownerGone_);
    apply_ = nullptr;
    owner_ = nullptr;

    panel_->setOption(QColorDialog::ShowAlphaChannel, false);
    panel_->setCurrentColor(color.toQColor());

    apply_ = std::move(apply);
    owner_ = owner;
    if (owner) ownerGone_ = connect(owner, &QObject::destroyed, this, [this] { apply_ = nullptr; });
    else apply_ = nullptr; // nothing to work on

    panel_->show();
    panel_->raise();
}

void ColorPanelBridge::colorChanged(const QColor& color)
{
    const std::optional<RGBA> rgba = RGBA::from(color);
    if (!rgba || !apply_ || !owner_) return;
    // A copy: the closure may open the panel for someone else while it runs.
    const Apply apply = apply_;
    apply(*rgba);
}

} // namespace quarn
