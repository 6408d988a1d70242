#pragma once
// Signing in one document window: which kind the signature sheet is open
// for, and the placing of signatures and quick-fill stamps (date, checkmark,
// cross) on the page under the middle of the page view, each one undo step,
// then selected with the select tool. The model knows no view: the page view
// tells it where its middle falls and shows its failures (SigningOnPages.h).
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/Annotation.h"
#include "QuarnKit/Signatures/Signature.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace quarn {

class ViewerModel;

class SigningModel : public QObject {
    Q_OBJECT

public:
    // The signing of the window whose viewer is `viewer`: made on first use,
    // a child of the viewer model.
    static SigningModel& of(ViewerModel& viewer);

    // A page view shows a document with at least one page.
    bool canSign() const;
    // The kind the window's signature sheet is open for; none while it is closed.
    const std::optional<quarnkit::Signature::Kind>& signatureSheet() const { return signatureSheet_; }
    void setSignatureSheet(std::optional<quarnkit::Signature::Kind> kind);
    // Opens the signature sheet for `kind`, only while the window can sign.
    void presentSignatureSheet(quarnkit::Signature::Kind kind);
    // Each puts its mark on the page under the centre of the view (or the
    // nearest page), in the signature ink, as one undo step named after it
    // ("Signature", "Initials", "Date", "Checkmark", "Cross"), then selects
    // it with the select tool. A stamp placed where a signature or stamp
    // already sits steps off it, so both can be seen and picked. Without a
    // page there: the beep, nothing placed.
    void placeSignature(const quarnkit::Signature& signature);
    void insertDate();
    void insertCheckmark();
    void insertCross();

    // Set by the page view's side: the page under the middle of the view (or
    // the nearest one) and the point there; none without a view or a page.
    std::function<std::optional<PagePoint>()> pageCentre;

signals:
    void signatureSheetChanged(std::optional<quarnkit::Signature::Kind> kind);
    // A mark could not be placed: for the window's error alert.
    void failed(const QString& description);

private:
    explicit SigningModel(ViewerModel& viewer);
    // Builds a mark around a page point (page box, rotation).
    using MarkBuilder = std::function<std::optional<quarnkit::Annotation>(
        platform::PdfPoint centre, const platform::PdfRect& pageBox, int rotation)>;
    // A stamp steps off the signatures and stamps already on that spot.
    enum class Placing { asBuilt, stamp };
    void placeAtCentre(const MarkBuilder& build, const QString& actionName, Placing placing);

    ViewerModel& viewer_;
    std::optional<quarnkit::Signature::Kind> signatureSheet_;
};

} // namespace quarn
