#pragma once
// The one-line notice above the pages of a PDF with fillable fields: says
// that the fields can be filled and that Tab moves between them, offers
// "Fill fields", and can be hidden for the life of the window. It also starts
// the window's form watcher and has it rescan after every edit, so the field
// count it shows by stays current. With no fields it takes no room at all.
#include <QPointer>
#include <QWidget>

class QAbstractButton;
class QGraphicsOpacityEffect;
class QPropertyAnimation;

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class ViewerModel;

class FormBanner : public QWidget {
    Q_OBJECT

public:
    FormBanner(ViewerModel* model, quarnkit::QuarnDocument* document, QWidget* parent = nullptr);

    // The document behind the window was replaced (Revert).
    void setDocument(quarnkit::QuarnDocument* document);

    // The notice row shows: the document has fields and the user has not hidden it.
    bool isShown() const;
    bool isDismissed() const { return dismissed_; }
    QAbstractButton* fillButton() const { return fillButton_; }
    QAbstractButton* closeButton() const { return closeButton_; }

    // "Fill fields": the Select tool, then the first empty field.
    void fillFields();
    // "Hide this note": fades the row out; it stays hidden in this window.
    void dismiss();

    static constexpr int fadeMs = 150;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void start();
    void refresh();

    QPointer<ViewerModel> model_;
    QPointer<quarnkit::QuarnDocument> document_;
    bool dismissed_ = false;
    QWidget* notice_ = nullptr; // the row and the hairline under it
    QAbstractButton* fillButton_ = nullptr;
    QAbstractButton* closeButton_ = nullptr;
    QGraphicsOpacityEffect* fade_ = nullptr;
    QPropertyAnimation* fadeAnimation_ = nullptr;
};

} // namespace quarn
