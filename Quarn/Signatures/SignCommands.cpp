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
#include <QPalette>
#include <QPixmap>

namespace quarn {

using quarnkit::ShortcutCommand;
using quarnkit::Signature;
namespace Keys = quarnkit::KeyboardShortcuts;

namespace {

// `created` counts from 2001-01-01 00:00:00 UTC.
constexpr qint64 referenceEpoch = 978307200;

QIcon itemIcon(const Signature& signature)
{
    // Drawn in the menu's text colour, as the menu would tint a template image.
    const qreal ratio = qApp->devicePixelRatio();
    const QColor text = QApplication::palette().color(QPalette::Text);
    QImage image = quarnkit::SignatureInk::image(signature, QSizeF(54, 18),
                                                 quarnkit::RGBA{text.redF(), text.greenF(), text.blueF(), 1}, ratio);
    image.setDevicePixelRatio(ratio);
    return QIcon(QPixmap::fromImage(image));
}

} // namespace

SignCommands::SignCommands(ViewerModel* viewer, QObject* parent, SignatureLibrary* library)
    : QObject(parent), viewer_(viewer), library_(library ? *library : SignatureLibrary::shared()),
      menu_(new QMenu(tr("&Sign"))), placeMenu_(new QMenu(tr("Place Signature"), menu_))
{
    menu_->setTitle(tr("&Sign"));
    add(tr("Add Signature…"), ShortcutCommand::addSignature,
        [this](ViewerModel&) { present(Signature::Kind::signature); });
    add(tr("Add Initials…"), std::nullopt, [this](ViewerModel&) { present(Signature::Kind::initials); });
    menu_->addMenu(placeMenu_);
    menu_->addSeparator();
    add(tr("Insert Date"), ShortcutCommand::insertDate, [](ViewerModel& v) { SigningModel::of(v).insertDate(); });
    add(tr("Insert Checkmark"), ShortcutCommand::insertCheckmark, [](ViewerModel& v) { SigningModel::of(v).insertCheckmark(); });
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
    return tr("Drawn %1").arg(quarnkit::formatDate(created, "MMMdyyyy", quarnkit::LibraryCalendar::current(), QLocale()));
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
