#pragma once
// The export sheet: the nine formats as cards, the pages to export, the
// options of the chosen format, and a footer that follows the export
// controller (buttons, progress, the outcome). It writes nothing itself.
#include "Quarn/Export/ExportController.h"
#include "QuarnKit/Export/ExportForm.h"

#include <QDialog>

#include <vector>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QSlider;
class QStackedWidget;

namespace platform {
class UserDefaults;
}

namespace quarn {

class AccentButton;
class ChromeSegmented;
class ExportProgressBar;
class FlatField;
class FormatCard;
class SheetButton;
class ViewerModel;

class ExportSheet : public QDialog {
    Q_OBJECT
public:
    // Seeds the choices from the remembered ones and the model's preset.
    ExportSheet(ViewerModel& model, platform::UserDefaults& defaults, QWidget* parent = nullptr);
    ~ExportSheet() override;
    // Shows a sheet on `window` whenever the model asks for one; closing it
    // tells the model.
    static void follow(ViewerModel* model, QWidget* window);

    ExportController& controller() { return controller_; }
    const quarnkit::ExportForm& form() const { return form_; }
    void chooseFormat(quarnkit::ExportFormat format);
    // The export action of the Export (or Choose Folder) button and of
    // Return anywhere in the sheet.
    void exportNow();

    // Shown for tests and for the window: the parts whose text changes.
    QLabel* pagesLine() const { return pagesLine_; }
    QLabel* pixelSize() const { return pixelSize_; }
    QLabel* validation() const { return validation_; }
    QLabel* note() const { return note_; }
    QLabel* passwordCaption() const { return passwordCaption_; }
    QLabel* failure() const { return failure_; }
    QLabel* stepLabel() const { return stepLabel_; }
    QLabel* summary() const { return summary_; }
    AccentButton* exportButton() const { return exportButton_; }
    ChromeSegmented* scopeControl() const { return scopeControl_; }
    FlatField* rangeField() const { return rangeField_; }
    FlatField* openPasswordField() const { return openPassword_; }
    FlatField* editPasswordField() const { return editPassword_; }
    QSlider* qualitySlider() const { return quality_; }
    QCheckBox* searchableBox() const { return searchable_; }
    std::vector<QAbstractButton*> cards() const;

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    QWidget* buildForm();
    QWidget* buildFooter();
    quarnkit::ExportSource source() const;
    void chooseScope(quarnkit::ExportScope scope);
    void refresh();
    // The height the sheet needs for what it shows now.
    int neededHeight() const;
    // Makes the sheet as tall as the tallest of its choices of format and scope.
    void reserveRoom();

    static constexpr int sheetWidth = 480;

    ViewerModel& model_;
    platform::UserDefaults& defaults_;
    int reserved_ = 0;       // the height kept, the tallest needed so far
    bool measuring_ = false; // reserveRoom is trying the choices
    ExportController controller_;
    quarnkit::ExportForm form_;
    std::optional<quarnkit::ExportFormat> preset_;
    std::vector<quarnkit::ExportScope> scopes_;

    QWidget* formArea_ = nullptr;
    std::vector<FormatCard*> cards_;
    ChromeSegmented* scopeControl_ = nullptr;
    FlatField* rangeField_ = nullptr;
    QLabel* pagesLine_ = nullptr;
    QWidget* resolutionSection_ = nullptr;
    QLabel* pixelSize_ = nullptr;
    ChromeSegmented* dpiControl_ = nullptr;
    QWidget* qualitySection_ = nullptr;
    QSlider* quality_ = nullptr;
    QLabel* qualityText_ = nullptr;
    QWidget* passwordSection_ = nullptr;
    FlatField* openPassword_ = nullptr;
    FlatField* editPassword_ = nullptr;
    QLabel* passwordCaption_ = nullptr;
    QCheckBox* searchable_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* failure_ = nullptr;
    QStackedWidget* footer_ = nullptr;
    QLabel* validation_ = nullptr;
    AccentButton* exportButton_ = nullptr;
    ExportProgressBar* progress_ = nullptr;
    QLabel* stepLabel_ = nullptr;
    QLabel* summary_ = nullptr;
};

} // namespace quarn
