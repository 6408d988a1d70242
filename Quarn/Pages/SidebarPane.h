#pragma once
// The document sidebar of a window: a 188-point column under the toolbar with
// a small tab bar (Pages, Outline, Marks) over the list of the chosen tab,
// and the empty state those lists show when they have no rows. The chosen
// tab lives in the viewer model, which saves it; switching tabs replaces the
// list, so each list keeps only what its own model holds.
#include "QuarnKit/Pages/SidebarTab.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

class QLabel;
class QVariantAnimation;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class ViewerModel;

// Registers the sidebar's symbol drawings (once).
void loadSidebarSymbols();

// A symbol over a centred message, for a sidebar list with nothing to show.
class SidebarEmptyState : public QWidget {
    Q_OBJECT
public:
    SidebarEmptyState(const QString& symbol, const QString& message, QWidget* parent = nullptr);
    QString symbol() const { return symbol_; }
    QString message() const;

private:
    QString symbol_;
    QLabel* text_ = nullptr;
};

class SidebarTabBar : public QWidget {
    Q_OBJECT
public:
    explicit SidebarTabBar(QWidget* parent = nullptr);
    quarnkit::SidebarTab selection() const { return selection_; }
    // Moves the chip at once (a change made elsewhere, such as the View menu).
    void setSelection(quarnkit::SidebarTab tab);
    QAbstractButton* button(quarnkit::SidebarTab tab) const;
    // Where the chip stands now, in the bar's coordinates.
    QRectF chipRect() const;

signals:
    // A tab was clicked, the chosen one included.
    void chosen(quarnkit::SidebarTab tab);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRectF tabRect(quarnkit::SidebarTab tab) const;
    void click(quarnkit::SidebarTab tab);

    quarnkit::SidebarTab selection_ = quarnkit::SidebarTab::pages;
    std::vector<QAbstractButton*> buttons_;
    QRectF chip_;
    QVariantAnimation* slide_ = nullptr;
};

class SidebarPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int columnWidth = 188;

    // The tab bar shows at once; the list waits for fillIn, so that a window
    // paints its first page before it reads every page's label and thumbnail.
    SidebarPane(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent = nullptr);
    // Makes the list of the chosen tab; choosing a tab makes its list at once.
    void fillIn();
    // The document behind the window was replaced: the list is made again.
    void setDocument(quarnkit::QuarnDocument* document);
    SidebarTabBar* tabBar() const { return tabBar_; }
    // The list of the chosen tab; none before fillIn.
    QWidget* content() const { return content_; }

private:
    void showTab();
    // The list of the tab shown (none while it has no rows) takes the keys.
    void giveListTheKeys();

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> document_;
    SidebarTabBar* tabBar_ = nullptr;
    QWidget* content_ = nullptr;
    bool filledIn_ = false;
};

} // namespace quarn
