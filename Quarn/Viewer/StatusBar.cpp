#include "Quarn/Viewer/StatusBar.h"

#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageSteps.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "QuarnKit/Viewer/DisplayModes.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

static void initViewerBarSymbols() { Q_INIT_RESOURCE(StatusBarSymbols); }

namespace quarn {

namespace D = quarnkit::Design;
namespace Keys = quarnkit::KeyboardShortcuts;
using quarnkit::DisplayMode;
using quarnkit::ShortcutCommand;
using quarnkit::ZoomPreset;
namespace ZoomLevel = quarnkit::ZoomLevel;

void registerViewerBarSymbols()
{
    static const bool registered = (initViewerBarSymbols(), true);
    (void)registered;
}

namespace {

// "Zoom out (Ctrl+-)": a control's label with the key of its menu command.
QString withKey(const QString& label, ShortcutCommand command)
{
    const QStringList keys = Keys::shownKeys(command);
    return keys.isEmpty() ? label : QStringLiteral("%1 (%2)").arg(label, keys.first());
}

QFont monoFont(int pixels)
{
    QFont font = D::mono();
    font.setPixelSize(pixels);
    return font;
}

QLabel* secondaryLabel(const QString& text, QWidget* parent)
{
    return shelltext::label(text, monoFont(11), withOpacity(D::paper(), 0.55), parent);
}

// The rounded box around the zoom field and its presets button; its outline
// turns to the accent colour while the field has the keyboard focus.
class ZoomBox : public QWidget {
public:
    explicit ZoomBox(QWidget* parent) : QWidget(parent) { setFixedHeight(26); }
    QLineEdit* field = nullptr;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5); // the stroke lies inside
        QPainterPath path;
        path.addRoundedRect(r, 4, 4);
        p.fillPath(path, withOpacity(D::paper(), 0.06));
        p.setPen(QPen(field && field->hasFocus() ? D::accent() : D::hairline(), 1));
        p.drawPath(path);
    }
};

// Reads a typed page number: an optional sign and ASCII digits, nothing else.
std::optional<qint64> readPageNumber(const QString& text)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    if (!integer.match(text).hasMatch()) return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    if (!ok) return std::nullopt; // beyond the 64-bit range
    return value;
}

} // namespace

QHBoxLayout* setUpViewerBar(QWidget* bar, int height)
{
    registerViewerBarSymbols();
    bar->setFixedHeight(height);
    fillWithChrome(bar);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 0, 12, 0);
    row->setSpacing(8);
    return row;
}

StatusBar::StatusBar(ViewerModel* model, QWidget* parent) : QWidget(parent), model_(model)
{
    QHBoxLayout* row = setUpViewerBar(this, 36);

    // Zoom group.
    auto* zoomGroup = new QHBoxLayout;
    zoomGroup->setSpacing(2);
    zoomOut_ = new StatusIconButton(QStringLiteral("minus"), withKey(tr("Zoom out"), ShortcutCommand::zoomOut), this);
    connect(zoomOut_, &QAbstractButton::clicked, this, [this] {
        if (model_) model_->zoomOut();
    });
    zoomGroup->addWidget(zoomOut_);

    auto* box = new ZoomBox(this);
    zoomBox_ = box;
    auto* boxRow = new QHBoxLayout(box);
    boxRow->setContentsMargins(4, 0, 0, 0);
    boxRow->setSpacing(0);
    zoomField_ = new QLineEdit(box);
    zoomField_->setFrame(false);
    zoomField_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    zoomField_->setFont(D::mono());
    zoomField_->setFixedWidth(42);
    zoomField_->setAccessibleName(tr("Zoom percentage"));
    zoomField_->setAttribute(Qt::WA_MacShowFocusRect, false);
    QPalette fp = zoomField_->palette();
    fp.setColor(QPalette::Base, Qt::transparent);
    fp.setColor(QPalette::Text, D::paper());
    zoomField_->setPalette(fp);
    zoomField_->installEventFilter(this);
    box->field = zoomField_;
    connect(zoomField_, &QLineEdit::returnPressed, this, &StatusBar::commitZoom);
    boxRow->addWidget(zoomField_);

    presets_ = new ChromeMenuButton(
        tr("Zoom presets"), [this] { return zoomPresetItems(); },
        [](QPainter& painter, const QRectF& frame, const ChromeMenuButton::LabelState& state) {
            const double opacity = 0.6 + 0.35 * state.hoverAmount;
            const QRectF chevron(frame.center() - QPointF(3.5, 3.5), QSizeF(7, 7));
            drawSymbol(painter, QStringLiteral("chevron.down"), chevron, withOpacity(D::paper(), opacity));
        },
        box);
    presets_->setFixedSize(18, 26);
    boxRow->addWidget(presets_);
    zoomGroup->addWidget(box);

    zoomIn_ = new StatusIconButton(QStringLiteral("plus"), withKey(tr("Zoom in"), ShortcutCommand::zoomIn), this);
    connect(zoomIn_, &QAbstractButton::clicked, this, [this] {
        if (model_) model_->zoomIn();
    });
    zoomGroup->addWidget(zoomIn_);
    row->addLayout(zoomGroup);

    // Divider.
    auto* divider = new Hairline(true, this);
    divider->setFixedHeight(16);
    row->addSpacing(2);
    row->addWidget(divider);
    row->addSpacing(2);

    // View group.
    auto* viewGroup = new QHBoxLayout;
    viewGroup->setSpacing(2);
    displayMode_ = new ChromeMenuButton(
        tr("View"), [this] { return displayModeItems(); },
        [this](QPainter& painter, const QRectF& frame, const ChromeMenuButton::LabelState& state) {
            QPainterPath back;
            back.addRoundedRect(frame, 4, 4);
            if (state.hoverAmount > 0) painter.fillPath(back, withOpacity(D::paper(), 0.07 * state.hoverAmount));
            const DisplayMode mode = model_ ? model_->displayMode() : DisplayMode::continuous;
            const QColor ink = withOpacity(D::paper(), 0.82);
            // The mode's symbol (12) and the chevron (7), three apart, centred together.
            const double width = 12 + 3 + 7;
            const double left = frame.center().x() - width / 2;
            drawSymbol(painter, QString::fromStdString(quarnkit::symbol(mode)),
                       QRectF(left, frame.center().y() - 6, 12, 12), ink);
            drawSymbol(painter, QStringLiteral("chevron.down"), QRectF(left + 15, frame.center().y() - 3.5, 7, 7),
                       withOpacity(ink, 0.7));
        },
        this);
    displayMode_->setFixedSize(38, 26);
    viewGroup->addWidget(displayMode_);
    slideshow_ =
        new StatusIconButton(QStringLiteral("play.fill"), withKey(tr("Slideshow"), ShortcutCommand::slideshow), this);
    connect(slideshow_, &QAbstractButton::clicked, this, &StatusBar::slideshowRequested);
    viewGroup->addWidget(slideshow_);
    row->addLayout(viewGroup);

    row->addStretch(1);
    row->addSpacing(8);

    // Page group.
    pageGroup_ = new QWidget(this);
    QSizePolicy keepRoom = pageGroup_->sizePolicy();
    keepRoom.setRetainSizeWhenHidden(true);
    pageGroup_->setSizePolicy(keepRoom);
    auto* pageRow = new QHBoxLayout(pageGroup_);
    pageRow->setContentsMargins(0, 0, 0, 0);
    pageRow->setSpacing(6);
    previousPage_ = new StatusIconButton(QStringLiteral("chevron.left"), tr("Previous page"), pageGroup_);
    connect(previousPage_, &QAbstractButton::clicked, this, [this] {
        if (model_ && model_->pdfView()) goToPreviousPage(*model_->pdfView());
    });
    pageRow->addWidget(previousPage_);
    pageRow->addWidget(secondaryLabel(tr("Page"), pageGroup_));
    auto* pageField = new FlatField(pageGroup_);
    pageField->setFieldFont(D::mono());
    pageField_ = pageField;
    pageField_->setAlignment(Qt::AlignCenter);
    pageField_->setFixedWidth(48);
    pageField_->setAccessibleName(tr("Page number"));
    pageField_->installEventFilter(this);
    connect(pageField_, &QLineEdit::returnPressed, this, &StatusBar::commitPage);
    pageRow->addWidget(pageField_);
    totalLabel_ = secondaryLabel(QString(), pageGroup_);
    pageRow->addWidget(totalLabel_);
    nextPage_ = new StatusIconButton(QStringLiteral("chevron.right"), tr("Next page"), pageGroup_);
    connect(nextPage_, &QAbstractButton::clicked, this, [this] {
        if (model_ && model_->pdfView()) goToNextPage(*model_->pdfView());
    });
    pageRow->addWidget(nextPage_);
    row->addWidget(pageGroup_);

    setPageTotal(0);
    refreshPageDraft();
    refreshZoomDraft();
    refreshStates();

    if (model_) {
        connect(model_, &ViewerModel::pageIndexChanged, this, [this] {
            if (!pageField_->hasFocus()) refreshPageDraft();
            refreshStates();
        });
        connect(model_, &ViewerModel::zoomValueChanged, this, [this] {
            if (!zoomField_->hasFocus()) refreshZoomDraft();
            refreshStates();
        });
        connect(model_, &ViewerModel::displayModeChanged, this, [this] {
            refreshStates();
            displayMode_->update();
        });
        connect(model_, &ViewerModel::pageFieldTokenChanged, this, [this] {
            pageField_->setFocus(Qt::ShortcutFocusReason);
            // After the focus has settled, so that typing replaces the number.
            QTimer::singleShot(0, pageField_, [field = pageField_] {
                if (field->hasFocus()) field->selectAll();
            });
        });
    }
}

void StatusBar::setPageTotal(int total)
{
    const bool first = totalLabel_->text().isEmpty();
    if (total == pageTotal_ && !first) return;
    pageTotal_ = total;
    totalLabel_->setText(tr("of %1").arg(std::max(total, 0)));
    pageGroup_->setVisible(pageTotal_ >= 1);
    if (!pageField_->hasFocus()) refreshPageDraft();
    refreshStates();
}

void StatusBar::refreshPageDraft()
{
    if (pageTotal_ < 1 || !model_) pageField_->clear();
    else pageField_->setText(QString::number(model_->pageIndex() + 1));
}

void StatusBar::refreshZoomDraft() { zoomField_->setText(ZoomLevel::label(model_ ? model_->zoom() : 1.0)); }

void StatusBar::refreshStates()
{
    const double zoom = model_ ? model_->zoom() : 1.0;
    const int page = model_ ? model_->pageIndex() : 0;
    zoomOut_->setEnabled(zoom > 0.051);
    zoomIn_->setEnabled(zoom < 9.999);
    previousPage_->setEnabled(page >= 1);
    nextPage_->setEnabled(page < pageTotal_ - 1);
    const DisplayMode mode = model_ ? model_->displayMode() : DisplayMode::continuous;
    const QString help = tr("View: %1").arg(quarnkit::title(mode));
    displayMode_->setToolTip(help);
    // A reader hears the name again for a new mode only, never at a page turn.
    setReaderName(displayMode_, help);
}

void StatusBar::refuse()
{
    QApplication::beep();
    emit inputRefused();
}

void StatusBar::handFocusToPages()
{
    QuarnPDFView* view = model_ ? model_->pdfView() : nullptr;
    if (view && view->window() && !view->hasFocus()) view->setFocus(Qt::OtherFocusReason);
}

void StatusBar::commitPage()
{
    if (pageTotal_ < 1) return;
    const QString text = pageField_->text().trimmed();
    const std::optional<qint64> number = text.isEmpty() ? std::nullopt : readPageNumber(text);
    if (!number) {
        refuse();
        refreshPageDraft();
        return;
    }
    const int page = int(std::clamp<qint64>(*number, 1, pageTotal_));
    pageField_->setText(QString::number(page));
    QuarnPDFView* view = model_ ? model_->pdfView() : nullptr;
    if (view && view->quarnDocument() && page - 1 < view->pageCount()) view->goToPage(page - 1);
    handFocusToPages();
}

void StatusBar::commitZoom()
{
    const std::optional<double> scale = ZoomLevel::scale(zoomField_->text());
    if (!scale) {
        refuse();
        refreshZoomDraft();
        return;
    }
    if (model_) model_->setZoom(*scale);
    zoomField_->setText(ZoomLevel::label(*scale));
    handFocusToPages();
}

std::vector<ChromeMenuItem> StatusBar::zoomPresetItems() const
{
    std::vector<ChromeMenuItem> items;
    const QPointer<ViewerModel> model = model_;
    const bool free = model && !model->zoomFit();
    for (const int value : ZoomLevel::presets) {
        items.push_back({QStringLiteral("%1%").arg(value), free && ZoomLevel::percent(model->zoom()) == value, true,
                         QString(), Qt::ControlModifier, [model, value] {
                             if (model) model->setZoom(value / 100.0);
                         }});
    }
    items.push_back(ChromeMenuItem::separator());
    items.push_back({quarnkit::title(ZoomPreset::fitPage), model && model->zoomFit() == ZoomPreset::fitPage, true,
                     QString::fromStdString(quarnkit::key(ZoomPreset::fitPage)), Qt::ControlModifier, [model] {
                         if (model) model->fitPage();
                     }});
    items.push_back({quarnkit::title(ZoomPreset::fitWidth), model && model->zoomFit() == ZoomPreset::fitWidth, true,
                     QString::fromStdString(quarnkit::key(ZoomPreset::fitWidth)), Qt::ControlModifier, [model] {
                         if (model) model->fitWidth();
                     }});
    return items;
}

std::vector<ChromeMenuItem> StatusBar::displayModeItems() const
{
    std::vector<ChromeMenuItem> items;
    const QPointer<ViewerModel> model = model_;
    for (const DisplayMode mode : quarnkit::allDisplayModes) {
        items.push_back({quarnkit::title(mode), model && model->displayMode() == mode, true,
                         QString::fromStdString(quarnkit::key(mode)), Qt::ControlModifier, [model, mode] {
                             if (model) model->setDisplayMode(mode);
                         }});
    }
    items.push_back(ChromeMenuItem::separator());
    items.push_back({tr("Show Cover Separately"),
                     model && model->coverSeparately(),
                     model && quarnkit::showsSpreads(model->displayMode()),
                     QString(),
                     {},
                     [model] {
                         if (!model) return;
                         model->setCoverSeparately(!model->coverSeparately());
                         model->applyDisplayMode();
                     }});
    return items;
}

bool StatusBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        // Typing that was not committed is thrown away.
        if (watched == pageField_) refreshPageDraft();
        if (watched == zoomField_) refreshZoomDraft();
    }
    if ((event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) && watched == zoomField_)
        zoomBox_->update();
    return QWidget::eventFilter(watched, event);
}

void StatusBar::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // A hairline along the top edge parts the bar from the pages.
    QPainter p(this);
    p.fillRect(QRect(0, 0, width(), 1), D::hairline());
}

} // namespace quarn
