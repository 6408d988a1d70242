#include "Quarn/Viewer/StateMessages.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/Motion.h"
#include "Quarn/Design/Shake.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Shell/Design.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace quarn {

namespace D = quarnkit::Design;

namespace {

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    QLabel* label = shelltext::label(text, font, color, parent);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

// The secondary foreground of the dark interface: paper, dimmed.
QColor secondary() { return withOpacity(D::paper(), 0.6); }

} // namespace

// ---------------------------------------------------------------- icon

StateIcon::StateIcon(const QString& symbol, QWidget* parent) : QWidget(parent), symbol_(symbol)
{
    setFixedSize(56, 56);
    setAccessibleName({}); // hidden from accessibility: decoration only
}

void StateIcon::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.fillPath(tile, withOpacity(D::paper(), 0.06));
    p.setPen(QPen(D::hairline(), 1));
    p.drawPath(tile);
    drawSymbol(p, symbol_, QRectF(17, 17, 22, 22), withOpacity(D::paper(), 0.82));
}

// ---------------------------------------------------------------- message

StateMessage::StateMessage(const QString& symbol, const QString& title, const QString& detail, QWidget* actions,
                           QWidget* parent)
    : QWidget(parent), actions_(actions)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(0);
    column->addStretch(1);
    column->addWidget(new StateIcon(symbol, this), 0, Qt::AlignHCenter);
    column->addSpacing(18);
    title_ = makeLabel(title, uiFont(18, QFont::DemiBold), D::paper(), this);
    column->addWidget(title_, 0, Qt::AlignHCenter);
    column->addSpacing(6);
    detail_ = makeLabel(detail, uiFont(13), secondary(), this);
    detail_->setWordWrap(true);
    detail_->setMaximumWidth(340);
    detail_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    column->addWidget(detail_, 0, Qt::AlignHCenter);
    if (actions_) {
        column->addSpacing(18);
        actions_->setParent(this);
        column->addWidget(actions_, 0, Qt::AlignHCenter);
    }
    column->addStretch(1);
    setAccessibleName(title);
    setAccessibleDescription(detail);
}

QString StateMessage::title() const { return title_->text(); }
QString StateMessage::detail() const { return detail_->text(); }

// ---------------------------------------------------------------- password gate

LockedGate::LockedGate(std::function<void(const QString&, Answer)> unlock, std::function<void()> onUnlock,
                       QWidget* parent)
    : QWidget(parent), unlock_(std::move(unlock)), onUnlock_(std::move(onUnlock))
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(0);
    column->addStretch(1);
    column->addWidget(new StateIcon(QStringLiteral("lock.fill"), this), 0, Qt::AlignHCenter);
    column->addSpacing(18);
    column->addWidget(makeLabel(tr("This PDF is locked"), uiFont(18, QFont::DemiBold), D::paper(), this), 0,
                      Qt::AlignHCenter);
    column->addSpacing(6);
    column->addWidget(makeLabel(tr("Enter its password to open it."), uiFont(13), secondary(), this), 0,
                      Qt::AlignHCenter);
    column->addSpacing(18);

    field_ = new FlatField(this);
    field_->setEchoMode(QLineEdit::Password);
    field_->setPlaceholderText(tr("Password"));
    field_->setAccessibleName(tr("Password"));
    field_->setFixedWidth(240);
    shake_ = new Shake(field_, 6);
    column->addWidget(field_, 0, Qt::AlignHCenter);
    column->addSpacing(12);

    button_ = new AccentButton(tr("Unlock"), std::nullopt, this);
    button_->setFixedSize(button_->sizeHint());
    button_->setEnabled(false);
    column->addWidget(button_, 0, Qt::AlignHCenter);
    column->addSpacing(10);

    // The line always keeps its place, so the gate does not shift when it shows.
    error_ = makeLabel(tr("That password didn't work. Try again."), uiFont(12), D::record(), this);
    QSizePolicy keep = error_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    error_->setSizePolicy(keep);
    error_->setVisible(false);
    column->addWidget(error_, 0, Qt::AlignHCenter);
    column->addStretch(1);

    connect(field_, &QLineEdit::returnPressed, this, &LockedGate::attempt);
    connect(button_, &QAbstractButton::clicked, this, &LockedGate::attempt);
    connect(field_, &QLineEdit::textChanged, this, [this](const QString& text) {
        button_->setEnabled(!text.isEmpty());
        if (failed_) setFailed(false); // editing hides the error line at once
    });
}

QString LockedGate::password() const { return field_->text(); }

void LockedGate::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!focusedOnce_) {
        focusedOnce_ = true;
        field_->setFocus(Qt::OtherFocusReason);
    }
}

void LockedGate::setFailed(bool failed)
{
    failed_ = failed;
    error_->setVisible(failed);
}

void LockedGate::setChecking(bool checking)
{
    checking_ = checking;
    // The gate keeps the keys meanwhile: focus leaving the disabled field
    // would land on whatever comes next, where a key could press it.
    if (QWidget* focused = QApplication::focusWidget(); checking && focused && isAncestorOf(focused))
        setFocus(Qt::OtherFocusReason);
    field_->setEnabled(!checking);
    button_->setEnabled(!checking && !field_->text().isEmpty());
}

void LockedGate::attempt()
{
    const QString password = field_->text();
    if (password.isEmpty() || checking_) return;
    if (!unlock_) return answered(false);
    setChecking(true);
    unlock_(password, [gate = QPointer<LockedGate>(this)](bool opened) {
        if (gate) gate->answered(opened);
    });
}

void LockedGate::answered(bool opened)
{
    setChecking(false);
    if (opened) {
        setFailed(false);
        if (onUnlock_) onUnlock_();
        return;
    }
    setFailed(true);
    field_->setFocus(Qt::OtherFocusReason);
    // After this turn's updates: the typed password stays, selected, so that
    // typing replaces it. The field is never cleared.
    const QPointer<FlatField> field(field_);
    QTimer::singleShot(0, this, [field] {
        if (field) field->selectAll();
    });
    QAccessibleEvent announcement(this, QAccessible::Alert);
    setAccessibleDescription(tr("That password didn't work."));
    QAccessible::updateAccessibility(&announcement);
    if (!motion::reduced()) {
        ++attempts_;
        shake_->shake(400);
    }
}

} // namespace quarn
