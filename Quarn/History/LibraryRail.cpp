#include "Quarn/History/LibraryRail.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/History/LibraryViews.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::LibraryPanel;
using quarnkit::ShortcutCommand;

namespace {

// "History (Ctrl+Y)": the key as the shortcut table has it.
QString withKey(const QString& help, ShortcutCommand command)
{
    const QKeySequence key = quarnkit::KeyboardShortcuts::menuKey(command);
    if (key.isEmpty()) return help;
    return QStringLiteral("%1 (%2)").arg(help, quarnkit::KeyboardShortcuts::keyText(key[0]));
}

} // namespace

QString libraryPanelTitle(LibraryPanel panel)
{
    switch (panel) {
    case LibraryPanel::document: return QStringLiteral("This PDF");
    case LibraryPanel::history: return QStringLiteral("History");
    case LibraryPanel::explore: return QStringLiteral("Explore");
    }
    return {};
}

QString libraryPanelSymbol(LibraryPanel panel)
{
    switch (panel) {
    case LibraryPanel::document: return QStringLiteral("sidebar.squares.left");
    case LibraryPanel::history: return QStringLiteral("clock");
    case LibraryPanel::explore: return QStringLiteral("doc.text.magnifyingglass");
    }
    return {};
}

QString libraryPanelHelp(LibraryPanel panel)
{
    switch (panel) {
    case LibraryPanel::document: return QStringLiteral("This PDF: pages, outline, and marks");
    case LibraryPanel::history: return withKey(QStringLiteral("History"), ShortcutCommand::history);
    case LibraryPanel::explore:
        return withKey(QStringLiteral("Explore PDFs on this computer"), ShortcutCommand::explore);
    }
    return {};
}

// ---------------------------------------------------------------- button

RailButton::RailButton(LibraryPanel panel, QWidget* parent)
    : ChromeButton(parent), panel_(panel), chosenAmount_(
                                               140, [this] { update(); }, this)
{
    setFixedSize(sizeHint());
    setToolTip(libraryPanelHelp(panel));
    setAccessibleName(libraryPanelTitle(panel));
    setKind(Kind::choice);
}

void RailButton::setChosen(bool chosen)
{
    if (chosen == chosen_) return;
    chosen_ = chosen;
    exposeChosen(chosen);
    if (motion::EasedChange::active()) chosenAmount_.moveTo(chosen ? 1 : 0);
    else chosenAmount_.jumpTo(chosen ? 1 : 0);
    update();
}

void RailButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The capsule at the leading edge marks the panel shown.
    const double chosen = chosenAmount();
    if (chosen > 0) {
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(0, height() / 2.0 - 8, 2, 16), 1, 1);
        p.fillPath(capsule, withOpacity(D::accent(), chosen));
    }
    const QRectF square(width() / 2.0 - 16, height() / 2.0 - 16, 32, 32);
    pressStyle().apply(p, square);
    const QColor hovered = withOpacity(D::paper(), isEnabled() ? 0.06 * hoverAmount() : 0);
    const QColor fill = blend(hovered, withOpacity(D::accent(), 0.16), chosen);
    if (fill.alpha() > 0) {
        QPainterPath back;
        back.addRoundedRect(square, 4, 4);
        p.fillPath(back, fill);
    }
    const QColor ink = !isEnabled()
                           ? withOpacity(D::paper(), 0.25)
                           : blend(withOpacity(D::paper(), 0.62 + (0.9 - 0.62) * hoverAmount()), D::accent(), chosen);
    // The chosen symbol is drawn a little heavier, as a bolder weight would be.
    const double side = chosen_ ? 17 : 16;
    drawSymbol(p, libraryPanelSymbol(panel_), QRectF(square.center() - QPointF(side / 2, side / 2), QSizeF(side, side)),
               ink);
}

// ---------------------------------------------------------------- rail

LibraryRail::LibraryRail(ViewerModel* model, QWidget* parent) : QWidget(parent), model_(model)
{
    loadLibrarySymbols();
    setFixedWidth(railWidth);
    fillWithChrome(this);
    setAccessibleName(QStringLiteral("Library"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 8, 0, 0);
    column->setSpacing(4);
    for (const LibraryPanel panel : quarnkit::allLibraryPanels) {
        auto* button = new RailButton(panel, this);
        buttons_[panel] = button;
        column->addWidget(button, 0, Qt::AlignHCenter);
        connect(button, &QAbstractButton::clicked, this, [this, panel] {
            const motion::EasedChange eased;
            if (model_) PagesModel::of(*model_).toggleLibrary(panel);
        });
    }
    column->addStretch(1);
    if (model_) {
        connect(&PagesModel::of(*model_), &PagesModel::sidebarChanged, this, &LibraryRail::showChoice);
        connect(&PagesModel::of(*model_), &PagesModel::libraryPanelChanged, this, &LibraryRail::showChoice);
    }
    showChoice();
}

void LibraryRail::setDocumentReady(bool ready) { buttons_.at(LibraryPanel::document)->setEnabled(ready); }

void LibraryRail::setPanelAvailable(LibraryPanel panel, bool available) { buttons_.at(panel)->setVisible(available); }

void LibraryRail::showChoice()
{
    for (const auto& [panel, button] : buttons_)
        button->setChosen(model_ && PagesModel::of(*model_).sidebar()
                          && PagesModel::of(*model_).libraryPanel() == panel);
}

} // namespace quarn
