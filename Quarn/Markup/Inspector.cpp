#include "Quarn/Markup/Inspector.h"
#include "Quarn/Markup/MarkupModel.h"

#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/ChromeSegmented.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "Quarn/Markup/InspectorPanel.h"
#include "Quarn/Shell/ColorPanelBridge.h"
#include "Quarn/Shell/WindowEvents.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"
#include "Quarn/Shell/ShellText.h"

#include <QCheckBox>
#include <QConicalGradient>
#include <QEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

static void initInspectorSymbols() { Q_INIT_RESOURCE(ToolPaletteSymbols); }

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::RGBA;
using quarnkit::TextFont;

namespace {

QLabel* label(const QString& text, int pixels, QFont::Weight weight, const QColor& color, QWidget* parent)
{
    return shelltext::label(text, uiFont(pixels, weight), color, parent);
}

QColor secondary() { return withOpacity(D::paper(), 0.55); }

void fillRounded(QPainter& p, const QRectF& rect, double radius, const QColor& color)
{
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    p.fillPath(path, color);
}

// A slider that Tab reaches (a click leaves the keys with the page) and
// that keeps its keys while it has them: the window's mark keys would
// nudge the selected mark on an arrow.
class InspectorSlider : public QSlider {
public:
    using QSlider::QSlider;

protected:
    bool event(QEvent* event) override
    {
        if (WindowEvents::claimsKey(event, {Qt::Key_Left, Qt::Key_Right, Qt::Key_Up, Qt::Key_Down, Qt::Key_PageUp,
                                            Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End}))
            return true;
        return QSlider::event(event);
    }
};

// An arrow moves the slider by `step` points, Page Up and Down by four steps.
QSlider* slider(double from, double to, double step, QWidget* parent)
{
    auto* s = new InspectorSlider(Qt::Horizontal, parent);
    s->setRange(int(from * InspectorPane::sliderScale), int(to * InspectorPane::sliderScale));
    s->setSingleStep(int(step * InspectorPane::sliderScale));
    s->setPageStep(int(4 * step * InspectorPane::sliderScale));
    s->setFocusPolicy(Qt::TabFocus);
    QPalette p = s->palette();
    p.setColor(QPalette::Highlight, D::accent());
    s->setPalette(p);
    return s;
}

QWidget* sliderRow(const QString& title, QSlider* s, QLabel*& value, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* name = label(title, 12, QFont::Normal, secondary(), row);
    name->setFixedWidth(64);
    layout->addWidget(name);
    s->setParent(row);
    s->setAccessibleName(title);
    layout->addWidget(s, 1);
    value = label(QString(), 11, QFont::Normal, secondary(), row);
    QFont mono = value->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    value->setFont(mono);
    value->setFixedWidth(44);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(value);
    return row;
}

QCheckBox* checkbox(const QString& title, QWidget* parent)
{
    auto* box = new QCheckBox(title, parent);
    box->setFont(uiFont(12));
    box->setFocusPolicy(Qt::TabFocus); // a click leaves the keys with the page
    return box;
}

// Nearest value, halves away from zero.
double rounded(double v) { return std::round(v); }

} // namespace

// ---------------------------------------------------------------- custom swatch

CustomSwatchButton::CustomSwatchButton(QWidget* parent) : ChromeButton(parent)
{
    setFixedSize(22, 22);
    setToolTip(tr("Custom color"));
    setAccessibleName(tr("Custom color"));
    setKind(Kind::choice);
}

void CustomSwatchButton::setInk(const RGBA& ink, bool chosen)
{
    exposeChosen(chosen); // told to screen readers as checked while chosen
    if (ink == ink_ && chosen == chosen_) return;
    ink_ = ink;
    chosen_ = chosen;
    update();
}

void CustomSwatchButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = rect();
    if (chosen_) {
        fillRounded(p, frame.adjusted(2, 2, -2, -2), 3, ink_.toQColor());
    } else {
        // A colour ring: an angular gradient through the hues.
        QConicalGradient hues(frame.center(), 0);
        const QColor stops[] = {Qt::red, Qt::yellow, Qt::green, Qt::cyan, Qt::blue, QColor(128, 0, 128), Qt::red};
        for (int i = 0; i < 7; ++i) hues.setColorAt(i / 6.0, stops[i]);
        p.setPen(QPen(QBrush(hues), 3));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(frame.adjusted(5.5, 5.5, -5.5, -5.5));
    }
    const double width = chosen_ ? 1.5 : 1.0;
    p.setPen(QPen(chosen_ ? D::accent() : withOpacity(D::paper(), 0.18), width));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame.adjusted(width / 2, width / 2, -width / 2, -width / 2), 4, 4);
}

// ---------------------------------------------------------------- action button

InspectorActionButton::InspectorActionButton(const QString& title, const QString& symbol, const QColor& tint,
                                             QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol), tint_(tint)
{
    initInspectorSymbols();
    setText(title);
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(26);
    setFixedWidth(sizeHint().width());
}

QSize InspectorActionButton::sizeHint() const
{
    const QFontMetrics metrics(uiFont(12, QFont::Medium));
    return {10 + 11 + 6 + metrics.horizontalAdvance(text()) + 10, 26};
}

void InspectorActionButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (isDown()) p.setOpacity(0.7);
    fillRounded(p, rect(), 4, withOpacity(tint_, hover_ ? 0.18 : 0.1));
    drawSymbol(p, symbol_, QRectF(10, (height() - 11) / 2.0, 11, 11), tint_);
    p.setFont(uiFont(12, QFont::Medium));
    p.setPen(tint_);
    p.drawText(QRectF(10 + 11 + 6, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

void InspectorActionButton::enterEvent(QEnterEvent* event)
{
    QAbstractButton::enterEvent(event);
    hover_ = true;
    update();
}

void InspectorActionButton::leaveEvent(QEvent* event)
{
    QAbstractButton::leaveEvent(event);
    hover_ = false;
    update();
}

// ---------------------------------------------------------------- pane

QString InspectorPane::strokeText(double width)
{
    const bool whole = std::fabs(width - std::round(width)) < 1e-9;
    return (whole ? QString::number(qint64(std::round(width))) : QString::number(width, 'f', 1)) + tr(" pt");
}

QString InspectorPane::textSizeText(double size) { return QString::number(qint64(rounded(size))) + tr(" pt"); }

InspectorPane::InspectorPane(ViewerModel* model, QWidget* parent) : QWidget(parent), model_(model)
{
    initInspectorSymbols();
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addWidget(new Hairline(true, this));
    scroll_ = new QScrollArea(this);
    scroll_->setFixedWidth(paneWidth);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A click on a control of the pane must not take the focus from the page:
    // the scroll area would take it for its buttons, and hand it on to another
    // control of the window once the pane closes.
    scroll_->setFocusPolicy(Qt::NoFocus);
    outer->addWidget(scroll_);

    if (model) {
        connect(model, &ViewerModel::changed, this, &InspectorPane::refresh);
        connect(&MarkupModel::of(*model), &MarkupModel::changed, this, &InspectorPane::refresh);
    }
    refresh();
}

void InspectorPane::makeContent()
{
    auto* content = new QWidget;
    fillWithChrome(content);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(16);

    // 1. Header.
    headerRow_ = new QWidget(content);
    auto* header = new QHBoxLayout(headerRow_);
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(8);
    title_ = label(QString(), 16, QFont::DemiBold, D::paper(), headerRow_);
    QFont serif = title_->font();
    serif.setFamily(QStringLiteral("serif"));
    serif.setStyleHint(QFont::Serif);
    title_->setFont(serif);
    header->addWidget(title_);
    header->addStretch(1);
    selectedLabel_ = label(tr("Selected"), 11, QFont::Medium, secondary(), headerRow_);
    header->addWidget(selectedLabel_);
    column->addWidget(headerRow_);

    // 2. Colour swatches.
    swatchSection_ = new QWidget(content);
    swatchGrid_ = new QGridLayout(swatchSection_);
    swatchGrid_->setContentsMargins(0, 0, 0, 0);
    swatchGrid_->setHorizontalSpacing(6);
    swatchGrid_->setVerticalSpacing(6);
    swatchGrid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    custom_ = new CustomSwatchButton(swatchSection_);
    connect(custom_, &QAbstractButton::clicked, this, &InspectorPane::chooseCustomColor);
    column->addWidget(swatchSection_);

    // 3. Stroke.
    strokeSlider_ = slider(1, 16, 0.5, content);
    strokeRow_ = sliderRow(tr("Stroke"), strokeSlider_, strokeText_, content);
    connect(strokeSlider_, &QSlider::valueChanged, this, [this](int v) {
        // The nearest half point.
        if (model_) MarkupModel::of(*model_).setStroke(std::round(2.0 * v / sliderScale) / 2.0);
    });
    column->addWidget(strokeRow_);

    // 4. Fill.
    fill_ = checkbox(tr("Fill"), content);
    connect(fill_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_) MarkupModel::of(*model_).setFilled(on);
    });
    column->addWidget(fill_);

    // 5. Text size and face.
    textSection_ = new QWidget(content);
    auto* text = new QVBoxLayout(textSection_);
    text->setContentsMargins(0, 0, 0, 0);
    text->setSpacing(8);
    textSlider_ = slider(8, 72, 1, textSection_);
    text->addWidget(sliderRow(tr("Text size"), textSlider_, textText_, textSection_));
    connect(textSlider_, &QSlider::valueChanged, this, [this](int v) {
        if (model_) MarkupModel::of(*model_).setTextSize(double(v) / sliderScale); // the model keeps whole points
    });
    faces_ = new ChromeSegmented(textSection_);
    std::vector<ChromeSegmented::Option> options;
    for (const TextFont face : quarnkit::allTextFonts)
        options.push_back({quarnkit::title(face), QString(), quarnkit::screenFont(face, 12)});
    faces_->setOptions(std::move(options));
    connect(faces_, &ChromeSegmented::selected, this, [this](int index) {
        if (model_ && index >= 0 && index < int(quarnkit::allTextFonts.size()))
            MarkupModel::of(*model_).setFont(quarnkit::allTextFonts[size_t(index)]);
    });
    text->addWidget(faces_);
    column->addWidget(textSection_);

    // 6. Head: straight to the selected line, never to the tool memory.
    head_ = checkbox(tr("Head"), content);
    connect(head_, &QCheckBox::toggled, this, [this](bool on) {
        if (model_) MarkupModel::of(*model_).setArrowhead(on);
    });
    column->addWidget(head_);

    // 7. Redaction note.
    redaction_ = new QWidget(content);
    redaction_->setAutoFillBackground(true);
    QPalette rp = redaction_->palette();
    rp.setColor(QPalette::Window, withOpacity(D::paper(), 0.06));
    redaction_->setPalette(rp);
    auto* note = new QHBoxLayout(redaction_);
    note->setContentsMargins(10, 10, 10, 10);
    note->setSpacing(8);
    auto* info = new QLabel(redaction_);
    info->setPixmap(
        symbolPixmap(QStringLiteral("info.circle"), {12, 12}, withOpacity(D::paper(), 0.7), devicePixelRatioF()));
    info->setAlignment(Qt::AlignTop);
    note->addWidget(info, 0, Qt::AlignTop);
    auto* explanation =
        label(tr("Redactions are burned in when you export a Redacted PDF. Until then you can move or undo them."), 12,
              QFont::Normal, withOpacity(D::paper(), 0.88), redaction_);
    explanation->setWordWrap(true);
    note->addWidget(explanation, 1);
    column->addWidget(redaction_);

    // 8. Hint.
    hint_ = label(QString(), 12, QFont::Normal, secondary(), content);
    hint_->setWordWrap(true);
    column->addWidget(hint_);

    // 9. Actions on the selected mark.
    actions_ = new QWidget(content);
    auto* actionColumn = new QVBoxLayout(actions_);
    actionColumn->setContentsMargins(0, 0, 0, 0);
    actionColumn->setSpacing(10);
    actionColumn->addWidget(new Hairline(false, actions_));
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    const auto onSelection = [this](void (MarkupModel::*run)()) {
        return [this, run] {
            if (model_) (MarkupModel::of(*model_).*run)();
        };
    };
    duplicate_ =
        new ChromeToolButton(QStringLiteral("plus.square.on.square"),
                             tr("Duplicate (%1)")
                                 .arg(quarnkit::KeyboardShortcuts::keyText(quarnkit::KeyboardShortcuts::menuKey(
                                     quarnkit::ShortcutCommand::duplicateMark)[0])),
                             actions_);
    connect(duplicate_, &QAbstractButton::clicked, this, onSelection(&MarkupModel::duplicateSelection));
    front_ = new ChromeToolButton(QStringLiteral("square.3.layers.3d.top.filled"), tr("Bring to front"), actions_);
    connect(front_, &QAbstractButton::clicked, this, onSelection(&MarkupModel::bringSelectionToFront));
    back_ = new ChromeToolButton(QStringLiteral("square.3.layers.3d.bottom.filled"), tr("Send to back"), actions_);
    connect(back_, &QAbstractButton::clicked, this, onSelection(&MarkupModel::sendSelectionToBack));
    delete_ = new InspectorActionButton(tr("Delete"), QStringLiteral("trash"), D::record(), actions_);
    delete_->setToolTip(tr("Delete the mark (Delete)"));
    makeTabStop(delete_);
    connect(delete_, &QAbstractButton::clicked, this, onSelection(&MarkupModel::deleteSelection));
    buttons->addWidget(duplicate_);
    buttons->addWidget(front_);
    buttons->addWidget(back_);
    buttons->addSpacing(6);
    buttons->addStretch(1);
    buttons->addWidget(delete_);
    actionColumn->addLayout(buttons);
    column->addWidget(actions_);
    column->addStretch(1);

    scroll_->setWidget(content);
}

const InspectorPane& InspectorPane::made() const
{
    if (!title_) {
        auto* self = const_cast<InspectorPane*>(this);
        self->makeContent();
        self->refresh();
    }
    return *this;
}

void InspectorPane::fillIn() { made(); }

bool InspectorPane::wanted() const
{
    return model_
           && (MarkupModel::of(*model_).tool() != quarnkit::MarkupTool::select
               || MarkupModel::of(*model_).hasSelection());
}

void InspectorPane::rebuildSwatches(const std::vector<RGBA>& palette)
{
    if (palette == shownPalette_ && !swatchButtons_.empty()) return;
    for (SwatchButton* b : swatchButtons_) b->deleteLater();
    swatchButtons_.clear();
    swatchGrid_->removeWidget(custom_);
    shownPalette_ = palette;
    constexpr int columns = 5;
    for (size_t i = 0; i < palette.size(); ++i) {
        const RGBA ink = palette[i];
        auto* button = new SwatchButton(ink, false, swatchSection_);
        button->setToolTip(QStringLiteral("%1 (%2)").arg(ink.name()).arg(i + 1));
        connect(button, &QAbstractButton::clicked, this, [this, ink] {
            if (model_) MarkupModel::of(*model_).setColor(ink);
        });
        swatchGrid_->addWidget(button, int(i) / columns, int(i) % columns);
        swatchButtons_.push_back(button);
    }
    swatchGrid_->addWidget(custom_, int(palette.size()) / columns, int(palette.size()) % columns);
    orderTabStops();
}

void InspectorPane::orderTabStops()
{
    // Swatches made for another palette would otherwise come after Delete.
    std::vector<QWidget*> order(swatchButtons_.begin(), swatchButtons_.end());
    order.insert(order.end(), {custom_, strokeSlider_, fill_, textSlider_});
    for (QAbstractButton* face : faces_->findChildren<QAbstractButton*>()) order.push_back(face);
    order.insert(order.end(), {head_, duplicate_, front_, back_, delete_});
    quarn::orderTabStops(order);
}

void InspectorPane::chooseCustomColor()
{
    if (!model_) return;
    const QPointer<ViewerModel> model = model_;
    // Every colour picked while the panel stays open restyles through the model.
    ColorPanelBridge::shared().show(MarkupModel::of(*model_).markupPanel().color, model_, [model](const RGBA& color) {
        if (model) MarkupModel::of(*model).setColor(color);
    });
}

void InspectorPane::refresh()
{
    setVisible(wanted());
    // The parts are made the first time the pane shows, or by fillIn.
    if (!title_ && !wanted()) return;
    if (!title_) makeContent();
    if (!model_) return;
    const MarkupPanel panel = MarkupModel::of(*model_).markupPanel();

    title_->setText(panel.title);
    const QString letter = panel.shortcut.value_or(QString());
    if (letter != keyCapText_ || (keyCap_ == nullptr) != letter.isEmpty()) {
        delete keyCap_;
        keyCap_ = nullptr;
        keyCapText_ = letter;
        if (!letter.isEmpty()) {
            keyCap_ = new KeyCap(letter, headerRow_);
            keyCap_->setToolTip(tr("Press %1 to pick this tool").arg(letter));
            static_cast<QHBoxLayout*>(headerRow_->layout())->insertWidget(2, keyCap_);
        }
    }
    selectedLabel_->setVisible(!panel.shortcut);

    swatchSection_->setVisible(panel.showsColor);
    if (panel.showsColor) {
        rebuildSwatches(panel.palette);
        const int chosen = panel.chosenSwatch();
        for (size_t i = 0; i < swatchButtons_.size(); ++i) swatchButtons_[i]->setChosen(int(i) == chosen);
        custom_->setInk(panel.color, chosen < 0);
    }

    const QSignalBlocker strokeQuiet(strokeSlider_), fillQuiet(fill_), textQuiet(textSlider_), headQuiet(head_);
    strokeRow_->setVisible(panel.showsStroke);
    strokeSlider_->setValue(int(std::lround(panel.stroke * sliderScale)));
    strokeText_->setText(strokeText(panel.stroke));
    fill_->setVisible(panel.showsFill);
    fill_->setChecked(panel.filled);
    textSection_->setVisible(panel.showsText);
    textSlider_->setValue(int(std::lround(panel.textSize * sliderScale)));
    textText_->setText(textSizeText(panel.textSize));
    faces_->setSelection(int(panel.font));
    head_->setVisible(panel.showsHead);
    head_->setChecked(panel.head);
    redaction_->setVisible(panel.explainsRedaction);
    hint_->setText(panel.hint);
    actions_->setVisible(panel.isSelection);
}

} // namespace quarn
