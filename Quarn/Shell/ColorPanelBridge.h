#pragma once
// The application's one colour panel: a shared non-modal QColorDialog without
// buttons or opacity control that reports every change, also while the user
// drags, to whichever caller opened it last. The inspector picks arbitrary
// ink colours with it.
#include "QuarnKit/Shell/RGBA.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QColorDialog;

namespace quarn {

class ColorPanelBridge : public QObject {
    Q_OBJECT
public:
    using Apply = std::function<void(const quarnkit::RGBA&)>;

    // The application-wide bridge, made on first use and kept for the run.
    static ColorPanelBridge& shared();

    ColorPanelBridge();
    ~ColorPanelBridge() override;

    // Shows the panel set to `color` and routes its changes to `apply` from now
    // on; the previous caller hears nothing more. `owner` is the object the
    // closure works on: once it is destroyed the closure is dropped and never
    // runs, whether or not the panel is still open.
    void show(const quarnkit::RGBA& color, QObject* owner, Apply apply);

    // A change reported by the panel: forwarded as an RGBA to the current
    // caller; a colour with no sRGB form (an invalid one) is ignored.
    void colorChanged(const QColor& color);

    // The panel, none until the first show().
    QColorDialog* panel() const;
    bool hasReceiver() const { return apply_ && owner_; }

private:
    QPointer<QColorDialog> panel_;
    QPointer<QObject> owner_;
    QMetaObject::Connection ownerGone_;
    Apply apply_;
};

} // namespace quarn
