#pragma once
// The "Fill and sign" button of a document window's toolbar, with what hangs
// on it: the sign popover, and the window's one signature sheet, shown
// whenever the viewer model's signatureSheet holds a kind (from the popover's
// add chips or the Sign menu). A saved signature is kept in the library and
// then placed on the page, once the sheet has closed.
#include "QuarnKit/Signatures/Signature.h"

#include <QPointer>
#include <QWidget>

#include <optional>

namespace quarn {

class ChromeToolButton;
class SignatureLibrary;
class SignatureSheet;
class SignPopover;
class ViewerModel;

class SignToolbarItem : public QWidget {
    Q_OBJECT
public:
    // `library` none: the application's shared library.
    explicit SignToolbarItem(ViewerModel* model, QWidget* parent = nullptr, SignatureLibrary* library = nullptr);
    ~SignToolbarItem() override;

    ChromeToolButton* button() const { return button_; }
    bool isShowing() const { return showing_; }
    // Opens or closes the popover, as a click on the button does.
    void setShowing(bool showing);
    SignPopover* popover() const;
    SignatureSheet* sheet() const;

private:
    void popoverClosed();
    void followSheet(std::optional<quarnkit::Signature::Kind> kind);

    QPointer<ViewerModel> model_;
    SignatureLibrary& library_;
    ChromeToolButton* button_;
    bool showing_ = false;
    std::optional<quarnkit::Signature::Kind> pendingSheet_;
    QPointer<SignPopover> popover_;
    QPointer<SignatureSheet> sheet_;
};

} // namespace quarn
