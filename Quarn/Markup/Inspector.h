#pragma once
// The inspector beside the pages: the style of the current tool, or of the
// selected mark, with its colour swatches and a custom colour, line width,
// fill, text size and face, the arrow head, and for a selected mark
// duplicate, stacking order and delete. It keeps no editing state: it draws
// the model's panel descriptor and sends every change and action back
// through the markup model, never through a page view. It shows itself (with the
// hairline before it) while a tool other than Select is chosen or a mark is
// selected.
#include "Quarn/Design/ChromeButtons.h"
#include "QuarnKit/Shell/RGBA.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;
class QScrollArea;
class QSlider;

namespace quarn {

class ViewerModel;
class ChromeSegmented;
class ChromeToolButton;
class KeyCap;
class SwatchButton;

// The last cell of the swatch grid: the colour itself when no swatch matches
// it, else a colour ring; opens the colour panel. One choice among the
// swatches, as they are.
class CustomSwatchButton : public ChromeButton {
    Q_OBJECT
public:
    CustomSwatchButton(QWidget* parent = nullptr);
    void setInk(const quarnkit::RGBA& ink, bool chosen);
    const quarnkit::RGBA& ink() const { return ink_; }
    bool isChosen() const { return chosen_; }
    QSize sizeHint() const override { return {22, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    quarnkit::RGBA ink_;
    bool chosen_ = false;
};

// A tinted text button with an icon ("Delete").
class InspectorActionButton : public QAbstractButton {
    Q_OBJECT
public:
    InspectorActionButton(const QString& title, const QString& symbol, const QColor& tint, QWidget* parent = nullptr);
    bool isHovered() const { return hover_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString symbol_;
    QColor tint_;
    bool hover_ = false;
};

class InspectorPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int paneWidth = 232;

    explicit InspectorPane(ViewerModel* model, QWidget* parent = nullptr);

    // Whether the window shows the inspector now.
    bool wanted() const;
    // Reads the model's panel and lays it out again.
    void refresh();
    // Makes the parts now: they are made the first time the pane shows, and
    // by the window once its first page is on the screen.
    void fillIn();

    // The parts, for the window's tests (made if they wait).
    QLabel* title() const { return made().title_; }
    KeyCap* keyCap() const { return made().keyCap_; }
    QLabel* selectedLabel() const { return made().selectedLabel_; }
    const std::vector<SwatchButton*>& swatches() const { return made().swatchButtons_; }
    CustomSwatchButton* customSwatch() const { return made().custom_; }
    QWidget* swatchSection() const { return made().swatchSection_; }
    QWidget* strokeRow() const { return made().strokeRow_; }
    QSlider* strokeSlider() const { return made().strokeSlider_; }
    QLabel* strokeText() const { return made().strokeText_; }
    QCheckBox* fill() const { return made().fill_; }
    QWidget* textSection() const { return made().textSection_; }
    QSlider* textSizeSlider() const { return made().textSlider_; }
    QLabel* textSizeText() const { return made().textText_; }
    ChromeSegmented* faces() const { return made().faces_; }
    QCheckBox* head() const { return made().head_; }
    QWidget* redactionNote() const { return made().redaction_; }
    QLabel* hint() const { return made().hint_; }
    QWidget* actions() const { return made().actions_; }
    ChromeToolButton* duplicateButton() const { return made().duplicate_; }
    ChromeToolButton* frontButton() const { return made().front_; }
    ChromeToolButton* backButton() const { return made().back_; }
    InspectorActionButton* deleteButton() const { return made().delete_; }

    // The value texts of the two sliders.
    static QString strokeText(double width);
    static QString textSizeText(double size);
    // Slider positions are hundredths of a point.
    static constexpr int sliderScale = 100;

private:
    void makeContent();
    const InspectorPane& made() const;
    void rebuildSwatches(const std::vector<quarnkit::RGBA>& palette);
    // Tab goes through the controls as they stand, top to bottom, left to right.
    void orderTabStops();
    void chooseCustomColor();

    QPointer<ViewerModel> model_;
    QScrollArea* scroll_ = nullptr;
    QLabel* title_ = nullptr;
    KeyCap* keyCap_ = nullptr;
    QString keyCapText_;
    QWidget* headerRow_ = nullptr;
    QLabel* selectedLabel_ = nullptr;
    QWidget* swatchSection_ = nullptr;
    QGridLayout* swatchGrid_ = nullptr;
    std::vector<quarnkit::RGBA> shownPalette_;
    std::vector<SwatchButton*> swatchButtons_;
    CustomSwatchButton* custom_ = nullptr;
    QWidget* strokeRow_ = nullptr;
    QSlider* strokeSlider_ = nullptr;
    QLabel* strokeText_ = nullptr;
    QCheckBox* fill_ = nullptr;
    QWidget* textSection_ = nullptr;
    QSlider* textSlider_ = nullptr;
    QLabel* textText_ = nullptr;
    ChromeSegmented* faces_ = nullptr;
    QCheckBox* head_ = nullptr;
    QWidget* redaction_ = nullptr;
    QLabel* hint_ = nullptr;
    QWidget* actions_ = nullptr;
    ChromeToolButton* duplicate_ = nullptr;
    ChromeToolButton* front_ = nullptr;
    ChromeToolButton* back_ = nullptr;
    InspectorActionButton* delete_ = nullptr;
};

} // namespace quarn
