#include "Quarn/Signatures/SignCommands.h"
#include "Quarn/Signatures/SigningModel.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Signatures/SignatureLibrary.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/History/LibraryCalendar.h"
#include "QuarnKit/Signatures/SignatureInk.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include <algorithm>

namespace quarn {

using quarnkit::ShortcutCommand;
using quarnkit::Signature;
namespace Keys = quarnkit::KeyboardShortcuts;

namespace {

// `created` counts from 2001-01-01 00:00:00 UTC.
constexpr qint64 referenceEpoch = 978307200;

// The size of a signature's preview in the menu.
constexpr QSize previewSize{54, 18};

QIcon itemIcon(const Signature& signature)
{
    // Drawn in the menu's text colour, as the menu would tint a template image.
    const qreal ratio = qApp->devicePixelRatio();
    const QColor text = QApplication::palette().color(QPalette::Text);
    QImage image = quarnkit::SignatureInk::image(signature, QSizeF(previewSize),
                                                 quarnkit::RGBA{text.redF(), text.greenF(), text.blueF(), 1}, ratio);
    image.setDevicePixelRatio(ratio);
    return QIcon(QPixmap::fromImage(image));
}

// The platform style squeezes every item's icon into a small square, which
// leaves a signature unreadable: this menu's items keep a column as wide as
// the preview and draw it there at its own aspect.
class PreviewMenuStyle : public QProxyStyle {
public:
    explicit PreviewMenuStyle(QObject* owner) { setParent(owner); }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override
    {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (type != CT_MenuItem || !item) return QProxyStyle::sizeFromContents(type, option, size, widget);
        QStyleOptionMenuItem wide(*item);
        wide.maxIconWidth = column;
        QSize result = QProxyStyle::sizeFromContents(type, &wide, size, widget);
        if (!item->icon.isNull()) result.setHeight(std::max(result.height(), previewSize.height() + 6));
        return result;
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuItem || !item) return QProxyStyle::drawControl(element, option, painter, widget);
        QStyleOptionMenuItem plain(*item);
        plain.maxIconWidth = column;
        plain.icon = QIcon();
        QProxyStyle::drawControl(element, &plain, painter, widget);
        if (item->icon.isNull()) return;
        const QIcon::Mode mode = !(item->state & State_Enabled)   ? QIcon::Disabled
                                 : (item->state & State_Selected) ? QIcon::Active
                                                                  : QIcon::Normal;
        const QPixmap pixmap = item->icon.pixmap(previewSize, painter->device()->devicePixelRatioF(), mode);
        QRect shown(QPoint(), pixmap.deviceIndependentSize().toSize());
        const QRect slot(item->rect.x() + 4, item->rect.y(), column, item->rect.height());
        shown.moveCenter(visualRect(item->direction, item->rect, slot).center());
        painter->drawPixmap(shown.topLeft(), pixmap);
    }

private:
    static constexpr int column = previewSize.width() + 8;
};

} // namespace

SignCommands::SignCommands(ViewerModel* viewer, QObject* parent, SignatureLibrary* library)
    : QObject(parent), viewer_(viewer), library_(library ? *library : SignatureLibrary::shared()),
      menu_(new QMenu(tr("&Sign"))), placeMenu_(new QMenu(tr("Place Signature"), menu_))
{
    menu_->setTitle(tr("&Sign"));
    add(tr("Add Signature…"), ShortcutCommand::addSignature,
        [this](ViewerModel&) { present(Signature::Kind::signature); });
    add(tr("Add Initials…"), std::nullopt, [this](ViewerModel&) { present(Signature::Kind::initials); });
    placeMenu_->setStyle(new PreviewMenuStyle(placeMenu_));
    menu_->addMenu(placeMenu_);
    menu_->addSeparator();
    add(tr("Insert Date"), ShortcutCommand::insertDate, [](ViewerModel& v) { SigningModel::of(v).insertDate(); });
    add(tr("Insert Checkmark"), ShortcutCommand::insertCheckmark,
        [](ViewerModel& v) { SigningModel::of(v).insertCheckmark(); });
    add(tr("Insert Cross"), std::nullopt, [](ViewerModel& v) { SigningModel::of(v).insertCross(); });
    menu_->addSeparator();
    fillForms_ = add(tr("Fill Form Fields"), std::nullopt, [this](ViewerModel&) { fillFormFields(); });

    connect(&library_, &SignatureLibrary::entriesChanged, this, [this] {
        rebuildPlaceMenu();
        refresh();
    });
    connect(menu_, &QMenu::aboutToShow, this, &SignCommands::refresh);
    if (viewer) {
        connect(viewer, &ViewerModel::changed, this, &SignCommands::refresh);
        connect(&FormWatcher::of(*viewer), &FormWatcher::fieldCountChanged, this, &SignCommands::refresh);
    }
    rebuildPlaceMenu();
    refresh();
}

SignCommands::~SignCommands()
{
    // The menu belongs to the bar it was put in, or to nobody.
    if (menu_ && !menu_->parent()) delete menu_;
}

QAction* SignCommands::add(const QString& title, std::optional<ShortcutCommand> command,
                           std::function<void(ViewerModel&)> run)
{
    auto* action = menu_->addAction(title);
    if (command) action->setShortcuts(Keys::keys(*command));
    connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
        // Nothing once the window's model is gone.
        if (const QPointer<ViewerModel> viewer = viewer_) run(*viewer);
    });
    items_.push_back(action);
    return action;
}

QAction* SignCommands::action(const QString& title) const
{
    for (QAction* a : menu_->actions())
        if (a->text() == title) return a;
    return nullptr;
}

bool SignCommands::canSign() const { return viewer_ && SigningModel::of(*viewer_).canSign(); }

void SignCommands::refresh()
{
    const bool can = canSign();
    for (QAction* a : items_) a->setEnabled(can);
    fillForms_->setEnabled(can && FormWatcher::of(*viewer_).fieldCount() != 0);
    placeMenu_->menuAction()->setEnabled(can && !library_.entries().empty());
}

QString SignCommands::itemTitle(const Signature& signature)
{
    if (signature.text) return QString::fromStdString(*signature.text);
    const QDateTime created =
        QDateTime::fromMSecsSinceEpoch(qint64((signature.created + double(referenceEpoch)) * 1000), QTimeZone::utc());
    return tr("Drawn %1")
        .arg(quarnkit::formatDate(created, "MMMdyyyy", quarnkit::LibraryCalendar::current(), QLocale()));
}

void SignCommands::rebuildPlaceMenu()
{
    placeMenu_->clear();
    const auto section = [this](const QString& title, const std::vector<Signature>& entries) {
        if (entries.empty()) return; // no empty section
        // Fusion draws sections as bare separators: the title is a disabled item.
        if (!placeMenu_->isEmpty()) placeMenu_->addSeparator();
        placeMenu_->addAction(title)->setEnabled(false);
        for (const Signature& entry : entries) {
            QAction* item = placeMenu_->addAction(itemIcon(entry), itemTitle(entry));
            connect(item, &QAction::triggered, this, [this, entry] { place(entry); });
        }
    };
    section(tr("Signatures"), library_.signatures());
    section(tr("Initials"), library_.initials());
}

void SignCommands::present(Signature::Kind kind)
{
    if (viewer_) SigningModel::of(*viewer_).presentSignatureSheet(kind);
}

void SignCommands::place(const Signature& signature)
{
    if (viewer_) SigningModel::of(*viewer_).placeSignature(signature);
}

void SignCommands::fillFormFields()
{
    if (!viewer_) return;
    MarkupModel::of(*viewer_).chooseTool(quarnkit::MarkupTool::select);
    FormWatcher::of(*viewer_).focusFirstEmptyField();
}

} // namespace quarn
