#include "Quarn/Welcome/VersionBadge.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Update/UpdateController.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/VersionTexts.h"

#include <QPainter>
#include <QPainterPath>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

QFont badgeFont(bool news) { return uiFont(11, news ? QFont::DemiBold : QFont::Normal); }

} // namespace

VersionBadge::VersionBadge(UpdateController* updates, std::function<void()> showUpdates, QWidget* parent)
    : ChromeButton(parent), updates_(updates), showUpdates_(std::move(showUpdates))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // A stop of Tab like any button: Space or Return shows where the version stands.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (showUpdates_) showUpdates_();
    });
    if (updates_) connect(updates_, &UpdateController::changed, this, &VersionBadge::follow);
    follow();
}

void VersionBadge::follow()
{
    using Kind = UpdateState::Kind;
    QString text = QStringLiteral("Version ") + quarnkit::appShortVersion();
    news_ = false;
    if (updates_) {
        switch (updates_->state().kind) {
        case Kind::available:
            text = QStringLiteral("Update available");
            news_ = true;
            break;
        case Kind::downloading:
        case Kind::verifying:
        case Kind::installing:
            text = QStringLiteral("Updating…");
            news_ = true;
            break;
        case Kind::readyToInstall:
            text = QStringLiteral("Update ready");
            news_ = true;
            break;
        case Kind::idle:
        case Kind::checking:
        case Kind::upToDate:
        case Kind::needsNewerSystem:
        case Kind::failed: break;
        }
        setToolTip(updates_->statusText());
    }
    setText(text);
    setAccessibleName(text);
    setCursor(news_ ? Qt::PointingHandCursor : Qt::ArrowCursor);
    updateGeometry();
    update();
}

QSize VersionBadge::sizeHint() const { return {QFontMetrics(badgeFont(news_)).horizontalAdvance(text()) + 12, 20}; }

void VersionBadge::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (news_) {
        pressStyle().apply(p, rect());
        QPainterPath back;
        back.addRoundedRect(QRectF(rect()), 4, 4);
        p.fillPath(back, withOpacity(D::accent(), 0.12 + 0.08 * (showsHover() ? hoverAmount() : 0)));
    }
    p.setFont(badgeFont(news_));
    p.setPen(news_ ? D::accent() : withOpacity(D::paper(), 0.4));
    p.drawText(rect(), Qt::AlignCenter, text());
}

} // namespace quarn
