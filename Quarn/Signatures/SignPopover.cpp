#include "Quarn/Signatures/SignPopover.h"
#include "Quarn/Signatures/SigningModel.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "Quarn/Shell/ShellText.h"
#include "Quarn/Signatures/SignControls.h"
#include "Quarn/Signatures/SignatureLibrary.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Signatures/QuickFill.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <QAccessible>
#include <QApplication>
#include <QDate>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace quarn {

using quarnkit::Signature;
namespace D = quarnkit::Design;
namespace SignatureInk = quarnkit::SignatureInk;

namespace {

constexpr int popoverWidth = 328;
constexpr int padding = 16;
constexpr int maxCardArea = 300;

// The round badge in a card's corner that asks to delete it.
class DeleteBadge : public QAbstractButton {
public:
    explicit DeleteBadge(QWidget* parent) : QAbstractButton(parent)
    {
        setFixedSize(16, 16);
        setToolTip(SignPopover::tr("Delete"));
        setAccessibleName(SignPopover::tr("Delete"));
        makeTabStop(this);
        setCursor(Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.62f));
        p.drawEllipse(rect());
        drawSymbol(p, QStringLiteral("xmark"), QRectF(4, 4, 8, 8), D::paper());
    }
};

// "Delete" and "Keep": plain words that act.
class WordButton : public QAbstractButton {
public:
    WordButton(const QString& title, QColor color, QWidget* parent) : QAbstractButton(parent), color_(color)
    {
        setText(title);
        setAccessibleName(title);
        makeTabStop(this);
        setFixedSize(QFontMetrics(font()).horizontalAdvance(title) + 4, QFontMetrics(font()).height());
    }
    QFont font() const { return uiFont(11, QFont::DemiBold); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setFont(font());
        p.setPen(color_);
        p.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    QColor color_;
};

// The confirmation over a card: chrome, nearly opaque.
class ConfirmOverlay : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        signview::fillRounded(p, rect(), 4, withOpacity(D::chrome(), 0.94));
    }
};

// A card to a reader: a button that places what it holds, not enabled
// while the card asks "Delete?".
class CardAccessible : public ButtonAccessible {
public:
    explicit CardAccessible(SignatureCard* card) : ButtonAccessible(card, QAccessible::PushButton) {}
    const SignatureCard* card() const { return static_cast<const SignatureCard*>(widget()); }
    QAccessible::State state() const override
    {
        QAccessible::State state = ButtonAccessible::state();
        if (card()->isConfirming()) {
            state.disabled = true;
            state.focusable = false;
            state.focused = false;
        }
        return state;
    }
    QStringList actionNames() const override
    {
        return card()->isConfirming() ? QStringList() : ButtonAccessible::actionNames();
    }
    void doAction(const QString& name) override
    {
        if (!card()->isConfirming()) ButtonAccessible::doAction(name);
    }
};

QAccessibleInterface* cardAccessible(const QString& className, QObject* object)
{
    auto* card = qobject_cast<SignatureCard*>(object);
    return card && className == QLatin1String(SignatureCard::staticMetaObject.className()) ? new CardAccessible(card)
                                                                                           : nullptr;
}

} // namespace

// ---------------------------------------------------------------- card

namespace {

// The words of a typed entry, as a reader says them; empty for a drawn one.
QString typedWords(const Signature& signature)
{
    return signature.text ? QString::fromStdString(*signature.text).simplified() : QString();
}

} // namespace

QString SignatureCard::readerName(const Signature& signature, int drawnNumber)
{
    const bool isSignature = signature.kind == Signature::Kind::signature;
    const QString text = typedWords(signature);
    if (!text.isEmpty())
        return (isSignature ? SignPopover::tr("%1, signature") : SignPopover::tr("%1, initials")).arg(text);
    return (isSignature ? SignPopover::tr("Drawn signature %1") : SignPopover::tr("Drawn initials %1"))
        .arg(drawnNumber);
}

SignatureCard::SignatureCard(const Signature& signature, QWidget* parent, int drawnNumber)
    : QAbstractButton(parent), signature_(signature)
{
    static const bool installed = (QAccessible::installFactory(cardAccessible), true);
    Q_UNUSED(installed);
    signview::useSymbols();
    setFixedHeight(cardHeight());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumWidth(10);
    // Tab reaches the card, and Return or Space places it as a click does.
    makeTabStop(this);
    setAttribute(Qt::WA_Hover);
    const bool isSignature = signature.kind == Signature::Kind::signature;
    // The help says what a click does; the name, what the card holds.
    setToolTip(isSignature ? SignPopover::tr("Place this signature") : SignPopover::tr("Place these initials"));
    setAccessibleName(readerName(signature, drawnNumber));
    setAccessibleDescription(toolTip());
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (!confirming_) emit placeRequested();
    });

    badge_ = new DeleteBadge(this);
    connect(badge_, &QAbstractButton::clicked, this, &SignatureCard::deleteAsked);
    badge_->installEventFilter(this);

    overlay_ = new ConfirmOverlay(this);
    delete_ = new WordButton(SignPopover::tr("Delete"), D::record(), overlay_);
    keep_ = new WordButton(SignPopover::tr("Keep"), withOpacity(D::paper(), 0.85), overlay_);
    connect(delete_, &QAbstractButton::clicked, this, &SignatureCard::deleteConfirmed);
    connect(keep_, &QAbstractButton::clicked, this, &SignatureCard::kept);
    // A signature card asks beside its buttons; an initials card only stacks them.
    if (cardHeight() > 48) {
        questionRow_ = new QHBoxLayout(overlay_);
        questionRow_->setContentsMargins(6, 0, 6, 0);
        questionRow_->setSpacing(8);
        questionRow_->addStretch(1);
        question_ = shelltext::label(SignPopover::tr("Delete?"), uiFont(11, QFont::Medium), D::paper());
        questionRow_->addWidget(question_);
        questionRow_->addWidget(delete_);
        questionRow_->addWidget(keep_);
        questionRow_->addStretch(1);
    } else {
        auto* column = new QVBoxLayout(overlay_);
        column->setContentsMargins(6, 0, 6, 0);
        column->setSpacing(3);
        column->addStretch(1);
        column->addWidget(delete_, 0, Qt::AlignHCenter);
        column->addWidget(keep_, 0, Qt::AlignHCenter);
        column->addStretch(1);
    }
    refresh();
}

int SignatureCard::cardHeight() const { return signature_.kind == Signature::Kind::signature ? 54 : 44; }

QSize SignatureCard::sizeHint() const { return {120, cardHeight()}; }

void SignatureCard::setConfirming(bool confirming)
{
    if (confirming == confirming_) return;
    // The keyboard that asked goes to the question, and back to the card after it.
    const bool keys = holdsKeys() || delete_->hasFocus() || keep_->hasFocus();
    confirming_ = confirming;
    // While it asks, Tab passes the card by and a reader finds it not enabled.
    if (!confirming) setFocusPolicy(Qt::TabFocus);
    refresh();
    if (keys) (confirming ? delete_ : static_cast<QWidget*>(this))->setFocus(Qt::TabFocusReason);
    if (confirming) setFocusPolicy(Qt::NoFocus);
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.disabled = true;
        changed.focusable = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

bool SignatureCard::holdsKeys() const { return hasFocus() || badge_->hasFocus(); }

QList<QWidget*> SignatureCard::tabStops() const { return {const_cast<SignatureCard*>(this), badge_, delete_, keep_}; }

void SignatureCard::refresh()
{
    overlay_->setVisible(confirming_);
    // The badge shows under the pointer, and while the keyboard is on the card.
    badge_->setVisible(!confirming_ && (hover_ || holdsKeys()));
    update();
}

void SignatureCard::focusInEvent(QFocusEvent* event)
{
    QAbstractButton::focusInEvent(event);
    refresh();
}

void SignatureCard::focusOutEvent(QFocusEvent* event)
{
    QAbstractButton::focusOutEvent(event);
    refresh();
}

bool SignatureCard::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == badge_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) refresh();
    return QAbstractButton::eventFilter(watched, event);
}

void SignatureCard::layoutChildren()
{
    overlay_->setGeometry(rect());
    if (questionRow_) {
        // The question never shows cut short: on a narrow card the gaps
        // close up first, then it gives way to the buttons alone.
        const int words = question_->sizeHint().width() + delete_->width() + keep_->width();
        const int room = width() - 12;
        const int gap = std::clamp((room - words) / 2, 2, 8);
        questionRow_->setSpacing(gap);
        question_->setVisible(words + 2 * gap <= room);
    }
    badge_->move(width() - 4 - badge_->width(), 4);
}

void SignatureCard::resizeEvent(QResizeEvent* event)
{
    QAbstractButton::resizeEvent(event);
    layoutChildren();
    // The ink is drawn afresh for the card's size, at the screen's pixel density.
    const QSizeF inner(std::max(1, width() - 12), std::max(1, height() - 10));
    preview_ = SignatureInk::image(signature_, inner, SignatureInk::color, devicePixelRatioF());
    preview_.setDevicePixelRatio(devicePixelRatioF());
}

void SignatureCard::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    hover_ = true;
    refresh();
}

void SignatureCard::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    hover_ = false;
    refresh();
}

void SignatureCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    signview::fillRounded(p, rect(), 4, D::paper());
    if (!preview_.isNull()) p.drawImage(QPointF(6, 5), preview_);
    signview::strokeRoundedInside(p, rect(), 4, 2, hover_ && !confirming_ ? D::accent() : QColor(Qt::transparent));
}

// ---------------------------------------------------------------- popover

SignPopover::SignPopover(ViewerModel* model, SignatureLibrary& library, std::function<void(Signature::Kind)> onAdd,
                         std::function<void()> onDone, QWidget* anchor)
    : QFrame(anchor, Qt::Popup), model_(model), library_(library), onAdd_(std::move(onAdd)), onDone_(std::move(onDone)),
      anchor_(anchor)
{
    signview::useSymbols();
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::NoFrame);
    setFixedWidth(popoverWidth);
    fillWithChrome(this);
    setAccessibleName(tr("Fill and sign"));
    exposeAsPopover(this);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(14);
    column->setSizeConstraint(QLayout::SetFixedSize);

    entriesHost_ = new QVBoxLayout;
    entriesHost_->setContentsMargins(0, 0, 0, 0);
    column->addLayout(entriesHost_);

    const auto chip = [this](const QString& title, const QString& symbol, std::function<void()> action) {
        auto* c = new ChipButton(title, symbol, this);
        c->setFixedSize(c->sizeHint());
        connect(c, &QAbstractButton::clicked, this, std::move(action));
        chips_.push_back(c);
        return c;
    };
    const auto centredRow = [](std::initializer_list<QWidget*> widgets) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addStretch(1);
        for (QWidget* w : widgets) row->addWidget(w);
        row->addStretch(1);
        return row;
    };

    // Starting a new one: the host closes the popover and opens the sheet.
    column->addLayout(
        centredRow({chip(tr("Add Signature…"), QStringLiteral("plus"), [this] { onAdd_(Signature::Kind::signature); }),
                    chip(tr("Add Initials…"), QStringLiteral("plus"), [this] { onAdd_(Signature::Kind::initials); })}));
    column->addWidget(new Hairline(false, this));

    auto* quick = new QVBoxLayout;
    quick->setSpacing(8);
    quick->addWidget(shelltext::label(tr("Quick fills"), uiFont(11, QFont::Medium), shelltext::secondary(), this));
    const auto stamp = [this](void (SigningModel::*insert)()) {
        return [this, insert] {
            if (model_) (SigningModel::of(*model_).*insert)();
            onDone_();
        };
    };
    dateChip_ = chip(tr("Date"), QStringLiteral("calendar"), stamp(&SigningModel::insertDate));
    dateChip_->installEventFilter(this);
    quick->addLayout(centredRow(
        {dateChip_, chip(tr("Checkmark"), QStringLiteral("checkmark"), stamp(&SigningModel::insertCheckmark)),
         chip(tr("Cross"), QStringLiteral("xmark"), stamp(&SigningModel::insertCross))}));
    column->addLayout(quick);

    errorLabel_ = shelltext::label(QString(), uiFont(12), D::record(), this);
    errorLabel_->setWordWrap(true);
    errorLabel_->hide();
    column->addWidget(errorLabel_);

    connect(&library_, &SignatureLibrary::entriesChanged, this, &SignPopover::rebuildCards);
    rebuildCards();
    // A damaged signatures file, kept aside when it was read, is told here.
    if (auto notice = library_.takeNotice()) setError(notice->description());
}

QString SignPopover::dateHelp()
{
    return tr("Today's date, %1").arg(quarnkit::QuickFill::dateString(QDate::currentDate(), QLocale()));
}

ChipButton* SignPopover::chip(const QString& title) const
{
    for (ChipButton* c : chips_)
        if (c->text() == title) return c;
    return nullptr;
}

QWidget* SignPopover::makeSection(const QString& title, bool hint, const std::vector<Signature>& entries, int columns)
{
    auto* section = new QWidget;
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* header = new QHBoxLayout;
    header->addWidget(shelltext::label(title, uiFont(11, QFont::Medium), shelltext::secondary()));
    header->addStretch(1);
    if (hint) header->addWidget(shelltext::label(tr("Click one to place it"), uiFont(11), shelltext::tertiary()));
    column->addLayout(header);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(8);
    for (int c = 0; c < columns; ++c) grid->setColumnStretch(c, 1);
    int drawn = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (typedWords(entries[i]).isEmpty()) ++drawn;
        auto* card = new SignatureCard(entries[i], section, drawn);
        const Signature entry = entries[i];
        const QUuid id = entry.id;
        connect(card, &SignatureCard::placeRequested, this, [this, entry] { place(entry); });
        connect(card, &SignatureCard::deleteAsked, this, [this, id] { askDelete(id); });
        connect(card, &SignatureCard::deleteConfirmed, this, [this, id] { deleteEntry(id); });
        connect(card, &SignatureCard::kept, this, &SignPopover::keep);
        card->setConfirming(confirming_ == id);
        grid->addWidget(card, int(i) / columns, int(i) % columns);
        cards_.push_back(card);
    }
    column->addLayout(grid);
    return section;
}

void SignPopover::rebuildCards()
{
    // The keyboard on a card that goes stays in the popover, on the first stop.
    const QWidget* focus = QApplication::focusWidget();
    const bool keys = entries_ && focus && entries_->isAncestorOf(focus);
    cards_.clear();
    if (entries_) {
        entries_->hide();
        entries_->deleteLater();
    }
    const std::vector<Signature> signatures = library_.signatures();
    const std::vector<Signature> initials = library_.initials();
    if (signatures.empty() && initials.empty()) {
        auto* empty = new QWidget(this);
        empty->setFixedWidth(popoverWidth - 2 * padding);
        auto* column = new QVBoxLayout(empty);
        column->setContentsMargins(0, 14, 0, 14);
        column->setSpacing(10);
        auto* symbol = new QLabel(empty);
        symbol->setPixmap(symbolPixmap(QStringLiteral("signature"), {26, 26}, D::accent(), devicePixelRatioF()));
        symbol->setAlignment(Qt::AlignCenter);
        column->addWidget(symbol);
        auto* text = shelltext::label(tr("Add a signature once and place it on any PDF."), uiFont(13),
                                      withOpacity(D::paper(), 0.85), empty);
        text->setAlignment(Qt::AlignCenter);
        text->setWordWrap(true);
        column->addWidget(text);
        entries_ = empty;
    } else {
        auto* content = new QWidget;
        content->setAutoFillBackground(false);
        auto* column = new QVBoxLayout(content);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(14);
        // The hint stands once, on the first section shown.
        if (!signatures.empty()) column->addWidget(makeSection(tr("Signatures"), true, signatures, 2));
        if (!initials.empty()) column->addWidget(makeSection(tr("Initials"), signatures.empty(), initials, 4));
        auto* scroll = new QScrollArea(this);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setFocusPolicy(Qt::NoFocus); // Tab goes to the cards, which it scrolls into view
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setWidgetResizable(true);
        scroll->viewport()->setAutoFillBackground(false);
        scroll->setWidget(content);
        content->setFixedWidth(popoverWidth - 2 * padding);
        scroll->setFixedWidth(popoverWidth - 2 * padding);
        // As tall as the cards, up to 300; beyond that it scrolls.
        scroll->setFixedHeight(std::min(maxCardArea, content->sizeHint().height()));
        entries_ = scroll;
    }
    entriesHost_->addWidget(entries_);
    const QList<QWidget*> order = tabOrder();
    orderTabStops({order.begin(), order.end()});
    if (keys && !order.isEmpty()) order.front()->setFocus(Qt::TabFocusReason);
}

QList<QWidget*> SignPopover::tabOrder() const
{
    // From top to bottom: each card (and its badge and question), then the chips.
    QList<QWidget*> order;
    for (const SignatureCard* card : cards_) order << card->tabStops();
    for (ChipButton* c : chips_) order << c;
    return order;
}

bool SignPopover::focusNextPrevChild(bool next)
{
    // The panel opens with the keys on none of its controls: the first Tab
    // goes to its first control, Shift+Tab to its last.
    const QWidget* focus = QApplication::focusWidget();
    if (!focus || !isAncestorOf(focus)) {
        QList<QWidget*> order = tabOrder();
        order.removeIf([](const QWidget* w) { return !w->isVisible() || !w->isEnabled(); });
        if (!order.isEmpty()) {
            (next ? order.front() : order.back())->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QFrame::focusNextPrevChild(next);
}

void SignPopover::present()
{
    adjustSize();
    QPoint at(0, 0);
    if (anchor_) {
        const QPoint below = anchor_->mapToGlobal(QPoint(anchor_->width() / 2, anchor_->height() + 4));
        at = QPoint(below.x() - width() / 2, below.y());
        if (const QScreen* screen = anchor_->screen()) {
            const QRect area = screen->availableGeometry();
            at.setX(std::clamp(at.x(), area.left() + 4, std::max(area.left() + 4, area.right() - width() - 4)));
        }
    }
    move(at);
    show();
}

void SignPopover::place(const Signature& signature)
{
    if (model_) SigningModel::of(*model_).placeSignature(signature);
    onDone_();
}

void SignPopover::askDelete(const QUuid& id)
{
    setError(std::nullopt);
    confirming_ = id;
    for (SignatureCard* card : cards_) card->setConfirming(card->signature().id == id);
}

void SignPopover::keep()
{
    confirming_.reset();
    for (SignatureCard* card : cards_) card->setConfirming(false);
}

void SignPopover::deleteEntry(const QUuid& id)
{
    keep();
    try {
        library_.remove(id); // the cards follow the library's list
    } catch (const quarnkit::SignatureStoreError& failure) {
        setError(failure.description());
    }
}

void SignPopover::setError(std::optional<QString> message)
{
    error_ = std::move(message);
    errorLabel_->setText(error_.value_or(QString()));
    errorLabel_->setVisible(error_.has_value());
    adjustSize();
}

bool SignPopover::eventFilter(QObject* watched, QEvent* event)
{
    // The date of the moment the help shows, as the stamp would carry it.
    if (watched == dateChip_ && event->type() == QEvent::ToolTip) dateChip_->setToolTip(dateHelp());
    return QFrame::eventFilter(watched, event);
}

void SignPopover::mousePressEvent(QMouseEvent* event)
{
    // A click on the toolbar button that closes the popover must not reach
    // the button as well, or it would open the popover again.
    if (anchor_ && !rect().contains(event->position().toPoint())) {
        const QPoint inAnchor = anchor_->mapFromGlobal(event->globalPosition().toPoint());
        if (anchor_->rect().contains(inAnchor)) setAttribute(Qt::WA_NoMouseReplay);
    }
    QFrame::mousePressEvent(event);
}

void SignPopover::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    // A hairline edge keeps the panel apart from a dark page or bar behind it.
    QPainter p(this);
    p.setPen(D::hairline());
    p.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

void SignPopover::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    emit closed();
}

} // namespace quarn
