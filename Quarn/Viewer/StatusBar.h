#pragma once
// The bar along the foot of a document window: zoom out, the editable zoom
// percentage with its presets, zoom in; the display-mode menu and the
// slideshow button; and at the right end the page navigation with an
// editable page number. It redraws from the window's viewer model and keeps
// its own drafts of the two fields, so that the model never overwrites what
// the user is typing while a field has the keyboard focus.
#include "Quarn/Design/ChromeMenuButton.h"

#include <QPointer>
#include <QHBoxLayout>
#include <QWidget>

#include <vector>

class QLabel;
class QLineEdit;

namespace quarn {

class StatusIconButton;
class ViewerModel;

// Registers the symbols the window's bars draw (once; safe to call again).
void registerViewerBarSymbols();
// Gives a bar of the window (status bar, find bar) its height and chrome
// background, and returns its row layout.
QHBoxLayout* setUpViewerBar(QWidget* bar, int height);

class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(ViewerModel* model, QWidget* parent = nullptr);

    // The count shown after "of" and the upper bound of the page field: the
    // larger of the PDF's page count and the model's. Below 1, the page group
    // is invisible but keeps its room.
    int pageTotal() const { return pageTotal_; }
    void setPageTotal(int total);

    // Return in the page field: goes to the page typed, clamped into the
    // document; refuses with the beep anything that is not a whole number.
    void commitPage();
    // Return in the zoom field: applies the zoom typed ("150", "150 %", "1.5x").
    void commitZoom();

    // The menus as they would open now.
    std::vector<ChromeMenuItem> zoomPresetItems() const;
    std::vector<ChromeMenuItem> displayModeItems() const;

    QLineEdit* pageField() const { return pageField_; }
    QLineEdit* zoomField() const { return zoomField_; }
    QLabel* pageTotalLabel() const { return totalLabel_; }
    StatusIconButton* zoomOutButton() const { return zoomOut_; }
    StatusIconButton* zoomInButton() const { return zoomIn_; }
    StatusIconButton* previousPageButton() const { return previousPage_; }
    StatusIconButton* nextPageButton() const { return nextPage_; }
    StatusIconButton* slideshowButton() const { return slideshow_; }
    ChromeMenuButton* presetsButton() const { return presets_; }
    ChromeMenuButton* displayModeButton() const { return displayMode_; }
    // The page group is drawn (pageTotal ≥ 1).
    bool pageGroupShown() const { return pageTotal_ >= 1; }

    QSize sizeHint() const override { return {720, 36}; }

signals:
    void slideshowRequested();
    // Typing that does not read was refused (with the beep).
    void inputRefused();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshPageDraft();
    void refreshZoomDraft();
    void refreshStates();
    void refuse();
    void handFocusToPages();

    QPointer<ViewerModel> model_;
    int pageTotal_ = 0;

    StatusIconButton* zoomOut_ = nullptr;
    QWidget* zoomBox_ = nullptr;
    QLineEdit* zoomField_ = nullptr;
    ChromeMenuButton* presets_ = nullptr;
    StatusIconButton* zoomIn_ = nullptr;
    ChromeMenuButton* displayMode_ = nullptr;
    StatusIconButton* slideshow_ = nullptr;
    QWidget* pageGroup_ = nullptr;
    StatusIconButton* previousPage_ = nullptr;
    QLineEdit* pageField_ = nullptr;
    QLabel* totalLabel_ = nullptr;
    StatusIconButton* nextPage_ = nullptr;
};

} // namespace quarn
