#include "Quarn/History/LibraryViews.h"

#include "Quarn/Design/AccessibleShown.h"

#include "Quarn/Design/AccessibleHeading.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Shell/Design.h"
#include "QuarnKit/Shell/KeyboardShortcuts.h"

#include <QDir>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

// The resources live in a static library; naming their initialisers keeps
// the linker from dropping them (and they must be named outside a namespace).
static void initLibrarySymbols()
{
    Q_INIT_RESOURCE(HistorySymbols);
    Q_INIT_RESOURCE(StatusBarSymbols); // "xmark", "chevron.down", "info.circle"
    Q_INIT_RESOURCE(WelcomeSymbols);   // the Explore panel's and the welcome window's
}

namespace quarn {

namespace D = quarnkit::Design;

void loadLibrarySymbols()
{
    static const bool loaded = (initLibrarySymbols(), true);
    (void)loaded;
}

QVBoxLayout* makeLibraryColumn(QWidget* panel, int width)
{
    loadLibrarySymbols();
    panel->setFixedWidth(width);
    fillWithChrome(panel);
    // A notice put away, a row or footer hidden: not read out either.
    exposeShownChildrenOnly(panel);
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

const QString& libraryHomePath()
{
    static const QString home = QDir::homePath();
    return home;
}

QWidget* withPadding(QWidget* child, const QMargins& margins)
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(margins);
    layout->setSpacing(0);
    layout->addWidget(child);
    return box;
}

namespace {

// A symbol drawn as a label's picture, at the widget's pixel ratio.
QLabel* symbolLabel(const QString& symbol, int side, const QColor& color, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setPixmap(symbolPixmap(symbol, {side, side}, color, parent ? parent->devicePixelRatioF() : 2.0));
    label->setFixedSize(side, side);
    return label;
}

// A clear button inside the search field: the filled circle with a cross.
class ClearButton : public ChromeButton {
public:
    explicit ClearButton(QWidget* parent) : ChromeButton(parent)
    {
        setToolTip(QStringLiteral("Clear"));
        setAccessibleName(QStringLiteral("Clear"));
        setFixedSize(20, 20);
        setCursor(Qt::ArrowCursor);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        pressStyle().apply(p, rect());
        drawSymbol(p, QStringLiteral("xmark.circle.fill"), QRectF(rect()).adjusted(4.5, 4.5, -4.5, -4.5),
                   withOpacity(D::paper(), 0.45));
    }
};

} // namespace

// ---------------------------------------------------------------- link button

LinkButton::LinkButton(const QString& title, const QColor& tint, QWidget* parent) : ChromeButton(parent), tint_(tint)
{
    setText(title);
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QFont LinkButton::font() { return uiFont(11, QFont::DemiBold); }

QSize LinkButton::sizeFor(const QString& title) { return {QFontMetrics(font()).horizontalAdvance(title) + 12, 20}; }

QSize LinkButton::sizeHint() const { return sizeFor(text()); }

void LinkButton::paint(QPainter& p, const QRectF& rect, const QString& title, const QColor& tint, double hover)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    if (hover > 0) {
        QPainterPath path;
        path.addRoundedRect(rect, 4, 4);
        p.fillPath(path, withOpacity(tint, 0.12 * hover));
    }
    p.setPen(withOpacity(tint, 0.88 + 0.12 * hover));
    p.setFont(font());
    p.drawText(rect, Qt::AlignCenter, title);
    p.restore();
}

void LinkButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    pressStyle().apply(p, rect());
    paint(p, rect(), text(), tint_, showsHover() ? hoverAmount() : 0);
}

// ---------------------------------------------------------------- header

LibraryPanelHeader::LibraryPanelHeader(const QString& title, QWidget* trailing, QWidget* parent) : QWidget(parent)
{
    setFixedHeight(40);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 0, 14, 0);
    row->setSpacing(8);
    // A heading, so that a screen reader can jump to the panel by its title.
    row->addWidget(shelltext::label<HeadingLabel>(title, uiFont(13, QFont::DemiBold), D::paper(), this));
    row->addStretch(1);
    if (trailing) row->addWidget(trailing);
}

// ---------------------------------------------------------------- search field

LibrarySearchField::LibrarySearchField(const QString& prompt, QWidget* parent)
    : FlatField(parent), clear_(new ClearButton(this))
{
    loadLibrarySymbols();
    setPlaceholderText(prompt);
    setAccessibleName(prompt);
    setFieldFont(uiFont(12));
    setTextMargins(8 + 11 + 6, 0, 8 + 16, 0);
    clear_->hide();
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { clear_->setVisible(!text.isEmpty()); });
    connect(clear_, &QAbstractButton::clicked, this, [this] {
        clear();
        setFocus(Qt::OtherFocusReason);
    });
}

bool LibrarySearchField::event(QEvent* event)
{
    // The keys that show and hide the library panels close them from their
    // own field too, though a line edit would take Ctrl+Y as Redo.
    if (event->type() == QEvent::ShortcutOverride) {
        const QKeyCombination key = static_cast<QKeyEvent*>(event)->keyCombination();
        for (const auto command : {quarnkit::ShortcutCommand::history, quarnkit::ShortcutCommand::explore})
            for (const QKeySequence& sequence : quarnkit::KeyboardShortcuts::keys(command))
                if (sequence.count() == 1 && sequence[0] == key) {
                    event->ignore();
                    return false;
                }
    }
    return FlatField::event(event);
}

void LibrarySearchField::paintEvent(QPaintEvent* event)
{
    FlatField::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    drawSymbol(p, QStringLiteral("magnifyingglass"), QRectF(8, height() / 2.0 - 5.5, 11, 11),
               withOpacity(D::paper(), 0.5));
}

void LibrarySearchField::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        clear(); // the keys stay in the field
        event->accept();
        return;
    }
    FlatField::keyPressEvent(event);
}

void LibrarySearchField::resizeEvent(QResizeEvent* event)
{
    FlatField::resizeEvent(event);
    clear_->move(width() - clear_->width() - 3, (height() - clear_->height()) / 2);
}

// ---------------------------------------------------------------- message

LibraryMessage::LibraryMessage(const QString& symbol, const QString& title, const QString& detail, QWidget* action,
                               QWidget* parent)
    : QWidget(parent), symbol_(symbol), action_(action)
{
    loadLibrarySymbols();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(26, 56, 26, 0);
    column->setSpacing(8);
    auto* icon = symbolLabel(symbol, 20, withOpacity(D::paper(), 0.4), this);
    column->addWidget(icon, 0, Qt::AlignHCenter);
    column->addSpacing(2);
    title_ = shelltext::label(title, uiFont(13, QFont::DemiBold), withOpacity(D::paper(), 0.88), this);
    title_->setAlignment(Qt::AlignHCenter);
    title_->setWordWrap(true);
    column->addWidget(title_);
    detail_ = shelltext::label(detail, uiFont(12), withOpacity(D::paper(), 0.58), this);
    detail_->setAlignment(Qt::AlignHCenter);
    detail_->setWordWrap(true);
    column->addWidget(detail_);
    if (action_) {
        action_->setParent(this);
        column->addSpacing(4);
        column->addWidget(action_, 0, Qt::AlignHCenter);
    }
    column->addStretch(1);
}

QString LibraryMessage::title() const { return title_->text(); }
QString LibraryMessage::detail() const { return detail_->text(); }

// ---------------------------------------------------------------- notice

LibraryNotice::LibraryNotice(QWidget* parent, Size size) : QWidget(parent), size_(size)
{
    loadLibrarySymbols();
    const bool roomy = size == Size::roomy;
    const int type = roomy ? 12 : 11;
    padding_ = roomy ? QMargins(12, 10, 12, 10) : QMargins(10, 8, 10, 8);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(padding_);
    row->setSpacing(roomy ? 10 : 8);
    const int side = roomy ? 13 : 11;
    auto* mark = symbolLabel(QStringLiteral("exclamationmark.triangle.fill"), side, D::record(), this);
    mark->setContentsMargins(0, roomy ? 1 : 2, 0, 0);
    mark->setFixedSize(side, side + (roomy ? 1 : 2));
    row->addWidget(mark, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(roomy ? 2 : 1);
    title_ = shelltext::label(QString(), uiFont(type, QFont::DemiBold), D::paper(), this);
    title_->setWordWrap(true);
    detail_ = shelltext::label(QString(), uiFont(type), withOpacity(D::paper(), 0.6), this);
    detail_->setWordWrap(true);
    texts->addWidget(title_);
    texts->addWidget(detail_);
    row->addLayout(texts, 1);
    // Room for the button, which sits over the banner's top-right padding (resizeEvent).
    row->addSpacing(roomy ? 8 + 26 : 4 + 26 - 6);
    dismiss_ = new StatusIconButton(QStringLiteral("xmark"), QStringLiteral("Dismiss"), this);
    dismiss_->setFixedSize(dismiss_->sizeHint());
    connect(dismiss_, &QAbstractButton::clicked, this, &LibraryNotice::dismissed);
}

void LibraryNotice::setProblem(const quarnkit::OpenProblem& problem)
{
    problem_ = problem;
    title_->setText(problem.title);
    detail_->setText(problem.detail);
    setAccessibleName(problem.title + QLatin1Char(' ') + problem.detail);
}

void LibraryNotice::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // Pulled 5 up; in the column also 6 into the right padding.
    const int right = size_ == Size::compact ? padding_.right() - 6 : padding_.right();
    dismiss_->move(width() - right - dismiss_->width(), padding_.top() - 5);
}

void LibraryNotice::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    p.fillPath(path, withOpacity(D::record(), 0.1));
    p.setPen(QPen(withOpacity(D::record(), 0.35), 1));
    p.drawPath(path);
}

} // namespace quarn
