#include "Quarn/Forms/FormsBanner.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Forms/FormWatcher.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QVBoxLayout>

// The resources live in a static library; naming their initialiser keeps the
// linker from dropping them.
static void initFormsBannerSymbols() { Q_INIT_RESOURCE(FormsBannerSymbols); }

namespace quarn {

namespace D = quarnkit::Design;

namespace {

// The banner's one action: accent-filled, 22 high, the title 10 from either side.
class FillFieldsButton : public ChromeButton {
public:
    explicit FillFieldsButton(const QString& title, QWidget* parent) : ChromeButton(parent)
    {
        setText(title);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        setFixedSize(sizeHint());
    }
    QSize sizeHint() const override { return {QFontMetrics(titleFont()).horizontalAdvance(text()) + 20, 22}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        pressStyle().apply(p, rect());
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 4, 4);
        p.fillPath(shape, withOpacity(D::accent(), 0.85));
        if (isHovered()) p.fillPath(shape, QColor::fromRgbF(1, 1, 1, float(0.08 * hoverAmount())));
        p.setPen(D::paper());
        p.setFont(titleFont());
        p.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    static QFont titleFont() { return uiFont(12, QFont::DemiBold); }
};

// The accent laid over the chrome at 8 %.
QColor noticeBackground()
{
    const QColor chrome = D::chrome(), accent = D::accent();
    const double a = 0.08;
    return QColor::fromRgbF(float(chrome.redF() * (1 - a) + accent.redF() * a),
                            float(chrome.greenF() * (1 - a) + accent.greenF() * a),
                            float(chrome.blueF() * (1 - a) + accent.blueF() * a));
}

} // namespace

FormBanner::FormBanner(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model), document_(document)
{
    initFormsBannerSymbols();
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    notice_ = new QWidget(this);
    auto* noticeColumn = new QVBoxLayout(notice_);
    noticeColumn->setContentsMargins(0, 0, 0, 0);
    noticeColumn->setSpacing(0);

    auto* row = new QWidget(notice_);
    row->setFixedHeight(36);
    row->setAutoFillBackground(true);
    QPalette rowPalette = row->palette();
    rowPalette.setColor(QPalette::Window, noticeBackground());
    row->setPalette(rowPalette);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(14, 0, 8, 0);
    line->setSpacing(10);

    auto* symbol = new QLabel(row);
    symbol->setPixmap(
        symbolPixmap(QStringLiteral("rectangle.and.pencil.and.ellipsis"), {15, 15}, D::accent(), devicePixelRatioF()));
    line->addWidget(symbol, 0, Qt::AlignVCenter);
    line->addWidget(shelltext::label(tr("This PDF has fields you can fill."), uiFont(12, QFont::Medium),
                                     withOpacity(D::paper(), 0.92), row),
                    0, Qt::AlignVCenter);
    QLabel* hint = shelltext::label(tr("Tab moves to the next one."), uiFont(12), withOpacity(D::paper(), 0.6), row);
    hint->setWordWrap(false);
    line->addWidget(hint, 0, Qt::AlignVCenter);
    line->addStretch(1); // with the row's spacing, never narrower than 8

    fillButton_ = new FillFieldsButton(tr("Fill fields"), row);
    fillButton_->setToolTip(tr("Switch to Select and start in the first empty field"));
    connect(fillButton_, &QAbstractButton::clicked, this, &FormBanner::fillFields);
    line->addWidget(fillButton_, 0, Qt::AlignVCenter);

    auto* close = new ChromeToolButton(QStringLiteral("xmark"), tr("Hide this note"), row);
    closeButton_ = close;
    connect(close, &QAbstractButton::clicked, this, &FormBanner::dismiss);
    line->addWidget(close, 0, Qt::AlignVCenter);

    noticeColumn->addWidget(row);
    noticeColumn->addWidget(new Hairline(false, notice_));
    stack->addWidget(notice_);

    fade_ = new QGraphicsOpacityEffect(notice_);
    fade_->setOpacity(1.0);
    fade_->setEnabled(false); // only while fading: the effect draws through an offscreen buffer
    notice_->setGraphicsEffect(fade_);
    fadeAnimation_ = new QPropertyAnimation(fade_, "opacity", this);
    fadeAnimation_->setDuration(fadeMs);
    fadeAnimation_->setEasingCurve(QEasingCurve::OutCubic);
    fadeAnimation_->setStartValue(1.0);
    fadeAnimation_->setEndValue(0.0);
    connect(fadeAnimation_, &QPropertyAnimation::finished, this, &FormBanner::refresh);

    if (model_) connect(&FormWatcher::of(*model_), &FormWatcher::fieldCountChanged, this, &FormBanner::refresh);
    setDocument(document);
}

void FormBanner::setDocument(quarnkit::QuarnDocument* document)
{
    if (document_) disconnect(document_, nullptr, this, nullptr);
    document_ = document;
    // Any edit may have added or removed pages, and with them fields.
    if (document_)
        connect(document_, &quarnkit::QuarnDocument::generationChanged, this, [this] {
            if (model_) FormWatcher::of(*model_).scan();
        });
    if (isVisible()) start();
    refresh();
}

void FormBanner::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    start();
}

void FormBanner::start()
{
    // The empty banner counts as on screen too: every window's watcher starts here.
    if (model_ && document_) FormWatcher::of(*model_).start(model_, document_);
    refresh();
}

bool FormBanner::isShown() const { return model_ && FormWatcher::of(*model_).fieldCount() >= 1 && !dismissed_; }

void FormBanner::refresh()
{
    const bool shown = isShown();
    if (fadeAnimation_->state() == QAbstractAnimation::Running) return; // the fade ends with a refresh
    fade_->setEnabled(false);
    fade_->setOpacity(1.0);
    notice_->setVisible(shown);
}

void FormBanner::fillFields()
{
    if (!model_) return;
    MarkupModel::of(*model_).chooseTool(quarnkit::MarkupTool::select);
    FormWatcher::of(*model_).focusFirstEmptyField();
}

void FormBanner::dismiss()
{
    if (dismissed_) return;
    dismissed_ = true;
    if (!notice_->isVisible()) return;
    fade_->setEnabled(true);
    fadeAnimation_->start();
}

} // namespace quarn
