#include "Quarn/Shell/ShortcutsWindow.h"

#include "Quarn/App/DocumentController.h"
#include "Platform/UserDefaults.h"
#include "Quarn/Design/AccessibleHeading.h"
#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/AccessibleWindow.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/FlatField.h"
#include "Quarn/Design/SmallMarks.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/WindowChrome.h"
#include "Quarn/Shell/ShellText.h"
#include "QuarnKit/Shell/Design.h"

#include <QAction>
#include <QBoxLayout>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace quarn {

namespace D = quarnkit::Design;
using quarnkit::ShortcutGroup;
using quarnkit::ShortcutRow;
using quarnkit::ShortcutCatalog::filtered;

ShortcutColumns dealShortcutColumns(std::vector<ShortcutGroup> groups)
{
    ShortcutColumns columns;
    int leftWeight = 0, rightWeight = 0;
    for (ShortcutGroup& group : groups) {
        const int weight = int(group.rows.size()) + 2; // a heading counts as two rows
        if (rightWeight < leftWeight) {
            rightWeight += weight;
            columns.right.push_back(std::move(group));
        } else {
            leftWeight += weight;
            columns.left.push_back(std::move(group));
        }
    }
    return columns;
}

namespace {

constexpr QSize kWindowSize{780, 620};

QFont groupTitleFont()
{
    QFont font = uiFont(13, QFont::DemiBold);
    font.setFamilies({QStringLiteral("serif")});
    font.setStyleHint(QFont::Serif);
    return font;
}

// "Next page: →, or Page Down, or Alt ↓": what a screen reader says for a row.
QString accessibleRowText(const ShortcutRow& row)
{
    QStringList alternatives;
    for (const QStringList& caps : row.keys) alternatives.append(caps.join(QLatin1Char(' ')));
    return row.title + QStringLiteral(": ") + alternatives.join(QStringLiteral(", or "));
}

// A row: the title, and its keys on the same line where both fit, else the
// keys on a line of their own under it. The title is never cut ("Sidebar
// tabs" came out as "Sidel" beside three pairs of keys).
class RowWidget : public QWidget {
public:
    RowWidget(QWidget* lead, QWidget* keys)
        : lead_(lead), keys_(keys), box_(new QBoxLayout(QBoxLayout::LeftToRight, this))
    {
        box_->setContentsMargins(0, 0, 0, 0);
        box_->setSpacing(12);
        box_->addWidget(lead_, 1);
        box_->addWidget(keys_, 0, Qt::AlignRight);
    }
    bool wraps() const { return box_->direction() == QBoxLayout::TopToBottom; }
    QSize minimumSizeHint() const override
    {
        const int w = std::max(lead_->sizeHint().width(), keys_->sizeHint().width());
        return {w, wraps() ? lead_->sizeHint().height() + 4 + keys_->sizeHint().height() : 26};
    }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        const bool fits = lead_->sizeHint().width() + box_->spacing() + keys_->sizeHint().width() <= width();
        const auto direction = fits ? QBoxLayout::LeftToRight : QBoxLayout::TopToBottom;
        if (box_->direction() == direction) return;
        box_->setDirection(direction);
        box_->setSpacing(fits ? 12 : 4);
        updateGeometry();
    }

private:
    QWidget* lead_;
    QWidget* keys_;
    QBoxLayout* box_;
};

QWidget* makeRow(const ShortcutRow& row)
{
    auto* lead = new QWidget;
    auto* leadLayout = new QHBoxLayout(lead);
    leadLayout->setContentsMargins(0, 0, 0, 0);
    leadLayout->setSpacing(8);
    if (row.swatch) leadLayout->addWidget(new InkDot(*row.swatch, 10));
    QLabel* title = shelltext::label(row.title, uiFont(13), withOpacity(D::paper(), 0.9));
    title->setWordWrap(false);
    title->setMinimumWidth(title->sizeHint().width());
    leadLayout->addWidget(title, 1);

    auto* keysWidget = new QWidget;
    auto* keys = new QHBoxLayout(keysWidget);
    keys->setContentsMargins(0, 0, 0, 0);
    keys->setSpacing(6);
    for (size_t i = 0; i < row.keys.size(); ++i) {
        if (i > 0) keys->addWidget(shelltext::label(QStringLiteral("or"), uiFont(11), shelltext::tertiary()));
        auto* caps = new QHBoxLayout;
        caps->setSpacing(3);
        for (const QString& cap : row.keys[i]) caps->addWidget(new KeyCap(cap));
        keys->addLayout(caps);
    }
    auto* widget = new RowWidget(lead, keysWidget);
    // One sentence to a reader, where the keys stop as they go through the rows.
    exposeAsOneElement(widget);
    widget->setAccessibleName(accessibleRowText(row));
    widget->setMinimumHeight(26);
    return widget;
}

// Each group's rows are added to `rows`, in reading order.
QWidget* makeGroup(const ShortcutGroup& group, std::vector<QWidget*>& rows)
{
    auto* widget = new QWidget;
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QLabel* title = shelltext::label<HeadingLabel>(group.title, groupTitleFont(), withOpacity(D::paper(), 0.7));
    title->setContentsMargins(0, 0, 0, 4);
    layout->addWidget(title);
    for (const ShortcutRow& row : group.rows) layout->addWidget(rows.emplace_back(makeRow(row)));
    return widget;
}

QVBoxLayout* makeColumn(const std::vector<ShortcutGroup>& groups, std::vector<QWidget*>& rows)
{
    auto* column = new QVBoxLayout;
    column->setSpacing(26);
    for (const ShortcutGroup& group : groups) column->addWidget(makeGroup(group, rows));
    column->addStretch(1);
    return column;
}

// The soft edge content scrolls out under: Design.window from clear to opaque.
class BottomFade : public QWidget {
public:
    explicit BottomFade(QWidget* parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QLinearGradient gradient(0, 0, 0, height());
        gradient.setColorAt(0, withOpacity(D::window(), 0));
        gradient.setColorAt(1, D::window());
        p.fillRect(rect(), gradient);
    }
};

} // namespace

// ---------------------------------------------------------------- view

ShortcutsView::ShortcutsView(QWidget* parent) : QWidget(parent)
{
    setFixedSize(kWindowSize);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, D::window());
    setPalette(pal);
    new WindowChrome(this);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 18, 24, 14);
    header->setSpacing(16);
    header->addWidget(shelltext::label(QStringLiteral("Keyboard shortcuts"), uiFont(18, QFont::DemiBold), D::paper()));
    header->addStretch(1);
    field_ = new FlatField;
    field_->setFieldFont(uiFont(12));
    field_->setPlaceholderText(QStringLiteral("Search shortcuts"));
    field_->setAccessibleName(QStringLiteral("Search shortcuts"));
    field_->setFixedWidth(220);
    field_->addAction(QIcon(symbolPixmap(QStringLiteral("magnifyingglass"), QSize(11, 11), withOpacity(D::paper(), 0.5),
                                         devicePixelRatioF())),
                      QLineEdit::LeadingPosition);
    header->addWidget(field_);
    root->addLayout(header);
    root->addWidget(new Hairline(false));

    scroll_ = new QScrollArea;
    scroll_->setFrameShape(QFrame::NoFrame);
    // Tab goes from the search to the rows, which it scrolls into view.
    scroll_->setFocusPolicy(Qt::NoFocus);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->viewport()->setAutoFillBackground(false);
    root->addWidget(scroll_, 1);

    fade_ = new BottomFade(this);
    scroll_->viewport()->installEventFilter(this); // the fade follows the viewport's geometry
    connect(field_, &QLineEdit::textChanged, this, &ShortcutsView::rebuild);
    rebuild();
}

QString ShortcutsView::query() const { return field_->text(); }

QString ShortcutsView::emptyText() const { return empty_ ? empty_->text() : QString(); }

void ShortcutsView::rebuild()
{
    columns_ = dealShortcutColumns(filtered(query()));
    empty_ = nullptr;
    rows_.clear();

    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    if (columns_.left.empty() && columns_.right.empty()) {
        auto* layout = new QVBoxLayout(content);
        layout->setContentsMargins(24, 80, 24, 34);
        // Only spaces come off the ends here; a line break typed into the query stays.
        QString shown = query();
        while (shown.startsWith(QLatin1Char(' ')) || shown.startsWith(QLatin1Char('\t'))) shown.remove(0, 1);
        while (shown.endsWith(QLatin1Char(' ')) || shown.endsWith(QLatin1Char('\t'))) shown.chop(1);
        empty_ =
            shelltext::label(QStringLiteral("No shortcuts match “%1”.").arg(shown), uiFont(13), shelltext::secondary());
        empty_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        empty_->setWordWrap(true);
        layout->addWidget(empty_);
        layout->addStretch(1);
    } else {
        auto* layout = new QHBoxLayout(content);
        layout->setContentsMargins(24, 22, 24, 34);
        layout->setSpacing(36);
        // Each column takes half the width, also when one of them is empty.
        layout->addLayout(makeColumn(columns_.left, rows_), 1);
        layout->addLayout(makeColumn(columns_.right, rows_), 1);
        for (QWidget* row : rows_) row->installEventFilter(this);
        keysOnRow(0, false);
    }
    scroll_->setWidget(content); // the previous content goes
    scroll_->verticalScrollBar()->setValue(0);
    placeFade();
}

void ShortcutsView::keysOnRow(int index, bool focus)
{
    // Only the row the keys are on is a stop of Tab: the list is one stop.
    for (size_t i = 0; i < rows_.size(); ++i) rows_[i]->setFocusPolicy(int(i) == index ? Qt::TabFocus : Qt::NoFocus);
    if (!focus) return;
    rows_[size_t(index)]->setFocus(Qt::TabFocusReason);
    scroll_->ensureWidgetVisible(rows_[size_t(index)], 0, 28);
}

bool ShortcutsView::eventFilter(QObject* watched, QEvent* event)
{
    const auto row = std::find(rows_.begin(), rows_.end(), watched);
    if (row != rows_.end() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const int at = int(row - rows_.begin()), last = int(rows_.size()) - 1;
        const int page = 8;
        int to = -1;
        switch ((key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier ? key->key() : 0) {
        case Qt::Key_Up: to = at - 1; break;
        case Qt::Key_Down: to = at + 1; break;
        case Qt::Key_PageUp: to = at - page; break;
        case Qt::Key_PageDown: to = at + page; break;
        case Qt::Key_Home: to = 0; break;
        case Qt::Key_End: to = last; break;
        default: return QWidget::eventFilter(watched, event);
        }
        keysOnRow(std::clamp(to, 0, last), true);
        return true;
    }
    if (watched == scroll_->viewport() && (event->type() == QEvent::Resize || event->type() == QEvent::Move))
        placeFade();
    return QWidget::eventFilter(watched, event);
}

void ShortcutsView::placeFade()
{
    const QRect viewport(scroll_->viewport()->mapTo(this, QPoint(0, 0)), scroll_->viewport()->size());
    fade_->setGeometry(viewport.left(), viewport.bottom() + 1 - 28, viewport.width(), 28);
    fade_->raise();
}

// ---------------------------------------------------------------- window

ShortcutsWindow& ShortcutsWindow::shared()
{
    static ShortcutsWindow* window = new ShortcutsWindow(platform::UserDefaults::standard());
    return *window;
}

ShortcutsWindow::ShortcutsWindow(platform::UserDefaults& defaults) : defaults_(defaults) {}

ShortcutsWindow::~ShortcutsWindow() { delete window_.data(); }

void ShortcutsWindow::show()
{
    if (!window_) create();
    window_->show();
    window_->raise();
    window_->activateWindow();
    // The keys go to the search, whose last words are selected: typing replaces them.
    window_->searchField()->setFocus(Qt::OtherFocusReason);
    window_->searchField()->selectAll();
}

void ShortcutsWindow::create()
{
    window_ = new ShortcutsView;
    window_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint
                            | Qt::CustomizeWindowHint);
    window_->setWindowTitle(QStringLiteral("Keyboard Shortcuts"));
    window_->setAttribute(Qt::WA_DeleteOnClose, false); // closing hides it
    exposeAsWindow(window_);
    applyWindowChrome(window_);
    closeWithKeys(window_);
    DocumentController::quitWithKey(*window_);
    placeWindow();
    window_->installEventFilter(this);
    // A window must not outlive the application object.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, window_, &QObject::deleteLater);
}

void ShortcutsWindow::placeWindow()
{
    if (const auto saved = defaults_.value(frameKey); saved && saved->is_object()) {
        const auto number = [&](const char* key) -> std::optional<int> {
            const auto it = saved->find(key);
            if (it == saved->end() || !it->is_number()) return std::nullopt;
            return int(it->get<double>());
        };
        const auto x = number("x"), y = number("y");
        if (x && y) {
            const QRect frame(QPoint(*x, *y), kWindowSize);
            // A frame left on a screen that is gone is not restored.
            for (const QScreen* screen : QGuiApplication::screens())
                if (screen->availableGeometry().intersects(frame)) {
                    window_->move(frame.topLeft());
                    return;
                }
        }
    }
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    window_->move(area.center() - QPoint(kWindowSize.width() / 2, kWindowSize.height() / 2));
}

void ShortcutsWindow::saveFrame()
{
    if (!window_) return;
    const QPoint at = window_->pos();
    defaults_.set(frameKey, {{"x", at.x()}, {"y", at.y()}, {"width", window_->width()}, {"height", window_->height()}});
}

bool ShortcutsWindow::eventFilter(QObject* watched, QEvent* event)
{
    // Moves before the window is first shown are our own placing. A window
    // being destroyed is no ShortcutsView any more, and is not asked.
    const auto* view = qobject_cast<ShortcutsView*>(watched);
    if (view && view == window_
        && ((event->type() == QEvent::Move && window_->isVisible()) || event->type() == QEvent::Hide))
        saveFrame();
    return QObject::eventFilter(watched, event);
}

} // namespace quarn
