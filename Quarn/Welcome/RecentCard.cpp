#include "Quarn/Welcome/RecentCard.h"

#include "Quarn/Design/AccessiblePopover.h"
#include "Quarn/Design/AccessibleShown.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Shell/FileManager.h"
#include "QuarnKit/Shell/Design.h"

#include <QAccessibleWidget>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>

#include <algorithm>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::PageThumbnail::Result;

namespace {

const QFont& nameFont()
{
    static const QFont font = uiFont(12, QFont::Medium);
    return font;
}

const QFont& subtitleFont()
{
    static const QFont font = uiFont(11);
    return font;
}

constexpr int textGap = 9;

// The path with the home folder written "~".
QString shortPath(const QString& path)
{
    const QString& home = libraryHomePath();
    if (path == home) return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/'))) return QStringLiteral("~") + path.mid(home.size());
    return path;
}

// A soft shadow under a picture: black at 0.4 spread over a few pixels, 2 down.
void paintShadow(QPainter& p, const QRectF& picture)
{
    const QRectF base = picture.translated(0, 2);
    for (int i = 5; i >= 1; --i) {
        QPainterPath ring;
        ring.addRoundedRect(base.adjusted(-i, -i, i, i), i, i);
        p.fillPath(ring, QColor(0, 0, 0, int(255 * 0.4 / 5)));
    }
}

QString showInFolder() { return QStringLiteral("Show in Folder"); }
QString removeFromHistory() { return QStringLiteral("Remove from History"); }

// A card as a screen reader sees it: one button, labelled with the name and
// the line under it.
class CardAccessible : public QAccessibleWidget {
public:
    explicit CardAccessible(RecentCard* card) : QAccessibleWidget(card, QAccessible::Button) {}

    RecentCard* card() const { return static_cast<RecentCard*>(widget()); }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    // Opening comes first: it is the card's default action.
    QStringList actionNames() const override
    {
        QStringList names{pressAction(), showInFolder()};
        if (card()->isRemovable()) names << removeFromHistory();
        return names;
    }
    QString localizedActionName(const QString& name) const override
    {
        return name == pressAction() ? QAccessibleWidget::localizedActionName(name) : name;
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction()) card()->click();
        else if (name == showInFolder()) card()->reveal();
        else if (name == removeFromHistory() && card()->isRemovable()) card()->remove();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* cardFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String(RecentCard::staticMetaObject.className())) return nullptr;
    auto* card = qobject_cast<RecentCard*>(object);
    return card ? new CardAccessible(card) : nullptr;
}

} // namespace

// ---------------------------------------------------------------- card

RecentCard::RecentCard(RecentThumbnails& thumbnails, QWidget* parent)
    : ChromeButton(parent), thumbnails_(thumbnails), arrival_(new motion::Ease(
                                                         200, [this] { update(); }, this))
{
    static const bool accessible = [] {
        QAccessible::installFactory(cardFactory);
        return true;
    }();
    (void)accessible;
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setHoverEase(150);
    connect(this, &QAbstractButton::clicked, this, [this] { emit openRequested(item_); });
    connect(&thumbnails_, &RecentThumbnails::stored, this, [this](const QString& key) {
        if (key == item_.key) arrival_->moveTo(1);
    });
}

void RecentCard::setItem(const RecentItem& item, bool removable)
{
    if (item == item_ && removable == removable_) return;
    item_ = item;
    removable_ = removable;
    // A page already at hand shows at once; one still to come fades in.
    arrival_->jumpTo(thumbnails_.thumbnail(item.key) ? 1 : 0);
    setToolTip(shortPath(item.path));
    setAccessibleName(item.subtitle.isEmpty() ? item.name : item.name + QStringLiteral(", ") + item.subtitle);
    update();
}

QSize RecentCard::sizeHint() const
{
    return {120,
            thumbnailHeight + textGap + QFontMetrics(nameFont()).height() + 2 + QFontMetrics(subtitleFont()).height()};
}

void RecentCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    pressStyle().apply(p, rect());
    const QRectF block(0, 0, width(), thumbnailHeight);
    QPainterPath plate;
    plate.addRoundedRect(block.adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.fillPath(plate, D::canvas());

    // Drawn only when the card is on screen: that is when its page is asked for.
    const std::optional<Result> thumbnail = thumbnails_.thumbnail(item_.key);
    p.save();
    p.setOpacity(p.opacity() * arrival());
    if (!thumbnail) thumbnails_.request(item_);
    else if (thumbnail->kind == Result::Kind::image && !thumbnail->image.isNull()) {
        const QRectF room = block.adjusted(12, 12, -12, -12);
        const QSizeF size = (QSizeF(thumbnail->image.size()) / thumbnail->image.devicePixelRatio())
                                .scaled(room.size(), Qt::KeepAspectRatio);
        const QRectF picture(room.center() - QPointF(size.width() / 2, size.height() / 2), size);
        paintShadow(p, picture);
        p.drawImage(picture, thumbnail->image);
    } else {
        const bool locked = thumbnail->kind == Result::Kind::locked;
        drawSymbol(p, locked ? QStringLiteral("lock.fill") : QStringLiteral("doc"),
                   QRectF(block.center() - QPointF(9, 9), QSizeF(18, 18)),
                   withOpacity(D::paper(), locked ? 0.45 : 0.35));
    }
    p.restore();
    p.setPen(QPen(withOpacity(D::paper(), 0.12 + 0.18 * (isEnabled() ? hoverAmount() : 0)), 1));
    p.drawPath(plate);

    const QRectF text(2, thumbnailHeight + textGap, width() - 4, height() - thumbnailHeight - textGap);
    const QFontMetrics nameMetrics(nameFont());
    p.setFont(nameFont());
    p.setPen(withOpacity(D::paper(), 0.92));
    p.drawText(QRectF(text.left(), text.top(), text.width(), nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
               nameMetrics.elidedText(item_.name, Qt::ElideMiddle, int(text.width())));
    const QFontMetrics subtitleMetrics(subtitleFont());
    p.setFont(subtitleFont());
    p.setPen(withOpacity(D::paper(), 0.55));
    p.drawText(QRectF(text.left(), text.top() + nameMetrics.height() + 2, text.width(), subtitleMetrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter,
               subtitleMetrics.elidedText(item_.subtitle, Qt::ElideLeft, int(text.width())));
}

QMenu* RecentCard::makeMenu()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const RecentItem item = item_;
    menu->addAction(QStringLiteral("Open"), this, [this, item] { emit openRequested(item); });
    menu->addAction(showInFolder(), this, [this, item] { reveal(item); });
    menu->addAction(QStringLiteral("Copy Path"), this, [item] { QGuiApplication::clipboard()->setText(item.path); });
    if (removable_) {
        menu->addSeparator();
        menu->addAction(removeFromHistory(), this, [this, item] { emit removeRequested(item); });
    }
    return menu;
}

void RecentCard::reveal() { reveal(item_); }

void RecentCard::reveal(const RecentItem& item)
{
    revealInFolder(item.path, [card = QPointer<RecentCard>(this), path = item.path](const QString& reason) {
        if (card) emit card->revealFailed(quarnkit::OpenProblem::notShownInFolder(path, reason));
    });
}

void RecentCard::remove()
{
    if (removable_) emit removeRequested(item_);
}

namespace {

bool offersMenu(const QKeyEvent* key)
{
    return (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Menu)
           && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

bool RecentCard::event(QEvent* event)
{
    // Delete is the card's, before any menu item that would take the key.
    if (event->type() == QEvent::ShortcutOverride && offersMenu(static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    return ChromeButton::event(event);
}

void RecentCard::keyPressEvent(QKeyEvent* event)
{
    if (!offersMenu(event)) return ChromeButton::keyPressEvent(event);
    showMenu(mapToGlobal(QPoint(8, thumbnailHeight)), MenuAsked::byKeys);
}

void RecentCard::contextMenuEvent(QContextMenuEvent* event)
{
    showMenu(event->reason() == QContextMenuEvent::Keyboard ? mapToGlobal(QPoint(8, thumbnailHeight))
                                                            : event->globalPos(),
             askedBy(*event));
}

void RecentCard::showMenu(const QPoint& place, MenuAsked asked)
{
    if (shownMenu_ && shownMenu_->isVisible()) return;
    shownMenu_ = makeMenu();
    popUpMenu(shownMenu_, place, asked);
}

// ---------------------------------------------------------------- grid

CardGrid::CardGrid(RecentThumbnails& thumbnails, QWidget* parent)
    : QWidget(parent), thumbnails_(thumbnails), grid_(new QGridLayout(this))
{
    exposeShownChildrenOnly(this);
    grid_->setContentsMargins(0, 0, 0, 0);
    grid_->setHorizontalSpacing(14);
    grid_->setVerticalSpacing(18);
    for (int column = 0; column < columns; ++column) grid_->setColumnStretch(column, 1);
    // Stand-ins for the missing cards of a short row, so that its cards keep their width.
    for (int i = 0; i < columns - 1; ++i) {
        auto* filler = new QWidget(this);
        filler->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        filler->setFixedHeight(1);
        filler->hide();
        fillers_.push_back(filler);
    }
}

void CardGrid::setItems(const std::vector<RecentItem>& items, bool removable)
{
    while (cards_.size() < items.size()) {
        auto* card = new RecentCard(thumbnails_, this);
        connect(card, &RecentCard::openRequested, this, &CardGrid::openRequested);
        connect(card, &RecentCard::removeRequested, this, &CardGrid::removeRequested);
        card->installEventFilter(this);
        connect(card, &RecentCard::revealFailed, this, &CardGrid::revealFailed);
        grid_->addWidget(card, int(cards_.size()) / columns, int(cards_.size()) % columns, Qt::AlignTop);
        cards_.push_back(card);
    }
    shown_ = int(items.size());
    for (size_t i = 0; i < cards_.size(); ++i) {
        if (i < items.size()) cards_[i]->setItem(items[i], removable);
        cards_[i]->setVisible(i < items.size());
    }
    for (QWidget* filler : fillers_) {
        grid_->removeWidget(filler);
        filler->hide();
    }
    const int missing = shown_ % columns == 0 ? 0 : columns - shown_ % columns;
    for (int i = 0; i < missing; ++i) {
        const int place = shown_ + i;
        grid_->addWidget(fillers_[size_t(i)], place / columns, place % columns, Qt::AlignTop);
        fillers_[size_t(i)]->show();
    }
}

bool CardGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
    const auto found = std::find(cards_.begin(), cards_.end(), watched);
    if (found == cards_.end()) return false;
    const int index = int(found - cards_.begin());
    const int lastRow = (shown_ - 1) / columns;
    int next = index;
    switch (key->key()) {
    case Qt::Key_Left: next = index - 1; break;
    case Qt::Key_Right: next = index + 1; break;
    case Qt::Key_Up: next = index - columns; break;
    // Down from above a short last row: its last card.
    case Qt::Key_Down: next = index / columns < lastRow ? std::min(index + columns, shown_ - 1) : index; break;
    default: return false;
    }
    if (next >= 0 && next < shown_) cards_[size_t(next)]->setFocus(Qt::TabFocusReason);
    return true; // at an edge the keys stay on the card
}

} // namespace quarn
