#include "Quarn/Pages/SidebarPane.h"
#include "Quarn/Pages/PagesModel.h"

#include "Quarn/Design/AccessibleRoles.h"
#include "Quarn/Design/Appearance.h"
#include "Quarn/Design/Symbols.h"
#include "Quarn/Design/TabStop.h"
#include "Quarn/Markup/MarksList.h"
#include "Quarn/Pages/OutlineList.h"
#include "Quarn/Pages/PageListController.h"
#include "Quarn/Pages/PageTableView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPointer>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <utility>

// The resources live in a static library; naming their initialisers keeps
// the linker from dropping them. The outline's chevron is the status bar's,
// the marks' scribble the tool palette's.
static void initSidebarSymbolResources()
{
    Q_INIT_RESOURCE(SidebarSymbols);
    Q_INIT_RESOURCE(StatusBarSymbols);
    Q_INIT_RESOURCE(ToolPaletteSymbols);
}

namespace quarn {

void loadSidebarSymbols()
{
    static const bool loaded = (initSidebarSymbolResources(), true);
    (void)loaded;
}

namespace D = quarnkit::Design;
using quarnkit::SidebarTab;

namespace {

// A tab of the bar: its title, semibold in the accent colour while chosen.
class TabButton : public QAbstractButton {
public:
    TabButton(SidebarTab tab, QWidget* parent) : QAbstractButton(parent), tab_(tab)
    {
        setText(quarnkit::title(tab));
        setToolTip(quarnkit::help(tab));
        setAccessibleName(quarnkit::title(tab));
        setCheckable(true);
        makeTabStop(this);
        exposeAsTab(this); // a reader hears a tab, selected while chosen
        setFixedHeight(22);
    }
    SidebarTab tab() const { return tab_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QFont font = this->font();
        font.setPixelSize(11); // pixels: the bar has a fixed width
        font.setWeight(isChecked() ? QFont::DemiBold : QFont::Medium);
        painter.setFont(font);
        painter.setPen(isChecked() ? D::accent() : withOpacity(D::paper(), 0.62));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    SidebarTab tab_;
};

} // namespace

// ---------------------------------------------------------------- empty state

SidebarEmptyState::SidebarEmptyState(const QString& symbol, const QString& message, QWidget* parent)
    : QWidget(parent), symbol_(symbol)
{
    loadSidebarSymbols();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(22, 0, 22, 40);
    column->setSpacing(10);
    column->addStretch(1);
    auto* image = new QLabel(this);
    image->setObjectName(QStringLiteral("emptySymbol"));
    image->setPixmap(symbolPixmap(symbol, QSize(22, 22), withOpacity(D::paper(), 0.4), devicePixelRatioF()));
    image->setAlignment(Qt::AlignCenter);
    column->addWidget(image);
    text_ = new QLabel(message, this);
    text_->setTextFormat(Qt::PlainText);
    text_->setWordWrap(true);
    text_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QFont font = text_->font();
    font.setPixelSize(12);
    text_->setFont(font);
    QPalette faint = text_->palette();
    faint.setColor(QPalette::WindowText, withOpacity(D::paper(), 0.62));
    text_->setPalette(faint);
    column->addWidget(text_);
    column->addStretch(1);
}

QString SidebarEmptyState::message() const { return text_->text(); }

// ---------------------------------------------------------------- tab bar

SidebarTabBar::SidebarTabBar(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(22 + 4);
    setAccessibleName(tr("Sidebar"));
    exposeAsTabBar(this);
    for (SidebarTab tab : quarnkit::allSidebarTabs) {
        auto* button = new TabButton(tab, this);
        connect(button, &QAbstractButton::clicked, this, [this, tab] { click(tab); });
        buttons_.push_back(button);
    }
    slide_ = new QVariantAnimation(this);
    slide_->setDuration(160);
    slide_->setEasingCurve(QEasingCurve::OutCubic);
    connect(slide_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        chip_ = value.toRectF();
        update();
    });
    setSelection(SidebarTab::pages);
}

QAbstractButton* SidebarTabBar::button(SidebarTab tab) const { return buttons_[size_t(tab)]; }

QRectF SidebarTabBar::tabRect(SidebarTab tab) const
{
    // Padding 2 around, 2 between: the three tabs share the rest equally.
    const double w = (width() - 4 - 2 * 2) / 3.0;
    return {2 + int(tab) * (w + 2), 2, w, 22};
}

QRectF SidebarTabBar::chipRect() const { return chip_; }

void SidebarTabBar::setSelection(SidebarTab tab)
{
    selection_ = tab;
    slide_->stop();
    chip_ = tabRect(tab);
    for (QAbstractButton* b : buttons_) b->setChecked(static_cast<TabButton*>(b)->tab() == tab);
    update();
}

void SidebarTabBar::click(SidebarTab tab)
{
    const QRectF from = chip_;
    setSelection(tab);
    // Only a click slides the chip.
    if (from != chip_) {
        slide_->setStartValue(from);
        slide_->setEndValue(tabRect(tab));
        chip_ = from;
        slide_->start();
    }
    emit chosen(tab);
}

void SidebarTabBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    for (SidebarTab tab : quarnkit::allSidebarTabs) button(tab)->setGeometry(tabRect(tab).toRect());
    slide_->stop();
    chip_ = tabRect(selection_);
}

void SidebarTabBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(withOpacity(D::paper(), 0.06));
    painter.drawRoundedRect(QRectF(rect()), 4, 4);
    painter.setBrush(withOpacity(D::accent(), 0.16));
    painter.drawRoundedRect(chip_, 3, 3);
}

// ---------------------------------------------------------------- pane

SidebarPane::SidebarPane(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent)
    : QWidget(parent), model_(model), document_(document)
{
    setFixedWidth(columnWidth);
    fillWithChrome(this);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* barRow = new QVBoxLayout;
    barRow->setContentsMargins(12, 10, 12, 8);
    tabBar_ = new SidebarTabBar(this);
    barRow->addWidget(tabBar_);
    column->addLayout(barRow);
    if (model_) {
        tabBar_->setSelection(PagesModel::of(*model_).sidebarTab());
        connect(tabBar_, &SidebarTabBar::chosen, &PagesModel::of(*model_), &PagesModel::setSidebarTab);
        connect(&PagesModel::of(*model_), &PagesModel::sidebarTabChanged, this, [this](SidebarTab tab) {
            tabBar_->setSelection(tab);
            filledIn_ = true;
            showTab();
        });
        connect(&PagesModel::of(*model_), &PagesModel::sidebarKeysRequested, this, &SidebarPane::giveListTheKeys);
    }
}

void SidebarPane::fillIn()
{
    if (!std::exchange(filledIn_, true)) showTab();
}

void SidebarPane::setDocument(quarnkit::QuarnDocument* document)
{
    if (document == document_) return;
    document_ = document;
    if (filledIn_) showTab();
}

namespace {

// Gives `list` the keys as it shows (its rows read on a worker come in),
// unless the keys moved meanwhile from where they were asked for, or the
// list turned out to have no rows (`empty` showed instead).
class KeysOnShow : public QObject {
public:
    KeysOnShow(QAbstractItemView* list, QWidget* empty, QWidget* from) : QObject(list), from_(from)
    {
        list->installEventFilter(this);
        if (empty) empty->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show) return false;
        auto* list = qobject_cast<QAbstractItemView*>(watched);
        if (list && QApplication::focusWidget() == from_ && list->isVisible()) list->setFocus(Qt::ShortcutFocusReason);
        deleteLater();
        return false;
    }

private:
    QPointer<QWidget> from_;
};

} // namespace

void SidebarPane::giveListTheKeys()
{
    fillIn();
    // Once the list shown has laid out its rows (an outline reads its entries as it shows).
    QTimer::singleShot(0, this, [this] {
        if (!content_ || !isVisible()) return;
        const QList<QAbstractItemView*> lists = content_->findChildren<QAbstractItemView*>();
        for (QAbstractItemView* list : lists)
            if (list->isVisible() && list->focusPolicy() != Qt::NoFocus) return list->setFocus(Qt::ShortcutFocusReason);
        // A list whose rows are still being read takes them as it shows.
        for (QAbstractItemView* list : lists)
            if (list->focusPolicy() != Qt::NoFocus && !list->isVisible() && list->parentWidget() == content_)
                new KeysOnShow(list, content_->findChild<SidebarEmptyState*>(), QApplication::focusWidget());
    });
}

void SidebarPane::showTab()
{
    if (content_) {
        content_->hide();
        content_->deleteLater();
        content_ = nullptr;
    }
    if (!model_) return;
    switch (PagesModel::of(*model_).sidebarTab()) {
    case SidebarTab::pages: {
        auto* host = new QWidget(this);
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* controller = new PageListController(model_, document_, host);
        layout->addWidget(controller->table());
        content_ = host;
        break;
    }
    case SidebarTab::outline: content_ = new OutlineList(model_, document_, this); break;
    case SidebarTab::marks: content_ = new MarksList(model_, document_, this); break;
    }
    static_cast<QVBoxLayout*>(layout())->addWidget(content_, 1);
    content_->show();
}

} // namespace quarn
