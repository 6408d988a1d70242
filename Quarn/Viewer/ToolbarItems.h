#pragma once
// The two document buttons of a viewer window's toolbar: Share, which asks for
// the document to be offered to the desktop's sharing services from under the
// button, and Document Info, which shows or hides the document-info panel.
// Document Info only opens for a document that is unlocked and has pages;
// otherwise it beeps and changes nothing.
#include <QPointer>
#include <QWidget>

namespace quarn {

class ChromeToolButton;
class ViewerModel;

class DocumentToolbarItems : public QWidget {
    Q_OBJECT
public:
    explicit DocumentToolbarItems(ViewerModel* model, QWidget* parent = nullptr);

    ChromeToolButton* shareButton() const { return share_; }
    ChromeToolButton* infoButton() const { return info_; }

    // Whether the document-info panel is shown; the Info button shows as
    // chosen while it is.
    bool infoPresented() const { return infoPresented_; }
    void setInfoPresented(bool presented);
    // The rule of the Info button: flips infoPresented for a document that is
    // unlocked and has pages, else beeps. True when it flipped.
    bool toggleInfo();

signals:
    // Share was clicked; `anchor` is the Share button, where the share menu opens.
    void shareRequested(QWidget* anchor);
    void infoPresentedChanged(bool presented);
    // Document Info was refused (with the beep).
    void infoRefused();

private:
    QPointer<ViewerModel> model_;
    ChromeToolButton* share_;
    ChromeToolButton* info_;
    bool infoPresented_ = false;
};

} // namespace quarn
