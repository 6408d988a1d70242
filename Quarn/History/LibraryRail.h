#pragma once
// The narrow rail at a document window's left edge: one button per library
// panel (This PDF, History, Explore) that shows the panel in the column
// beside it, or hides the column when that panel is already shown.
#include "Quarn/Design/ChromeButtons.h"
#include "Quarn/Design/Motion.h"
#include "QuarnKit/History/LibraryPanel.h"

#include <QPointer>
#include <QWidget>

#include <map>

namespace quarn {

class ViewerModel;

// The words and symbol of a panel: its title, its symbol name and its tooltip.
QString libraryPanelTitle(quarnkit::LibraryPanel panel);
QString libraryPanelSymbol(quarnkit::LibraryPanel panel);
QString libraryPanelHelp(quarnkit::LibraryPanel panel);

class RailButton : public ChromeButton {
    Q_OBJECT
public:
    RailButton(quarnkit::LibraryPanel panel, QWidget* parent = nullptr);
    quarnkit::LibraryPanel panel() const { return panel_; }
    bool isChosen() const { return chosen_; }
    // Chosen by the rail, its capsule and fill come in over 0.14 s (and go
    // as gently); otherwise at once.
    void setChosen(bool chosen);
    // How strongly it is drawn chosen, 0 … 1.
    double chosenAmount() const { return chosenAmount_.value(); }
    QSize sizeHint() const override { return {44, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    quarnkit::LibraryPanel panel_;
    bool chosen_ = false;
    motion::Ease chosenAmount_;
};

// Its buttons show their panel, or hide the column, as an eased change.
class LibraryRail : public QWidget {
    Q_OBJECT
public:
    static constexpr int railWidth = 44;

    explicit LibraryRail(ViewerModel* model, QWidget* parent = nullptr);
    // Whether the document shows its pages: This PDF is offered only then.
    void setDocumentReady(bool ready);
    // A panel the column cannot show yet has no button.
    void setPanelAvailable(quarnkit::LibraryPanel panel, bool available);
    RailButton* button(quarnkit::LibraryPanel panel) const { return buttons_.at(panel); }

private:
    void showChoice();

    QPointer<ViewerModel> model_;
    std::map<quarnkit::LibraryPanel, RailButton*> buttons_;
};

} // namespace quarn
