#pragma once
// Puts the window's page view into the viewer screen: makes it once, then on
// every change of the model or the document copies the document and the
// current tool to it and lets the model attach itself.
#include <QPointer>
#include <QWidget>

namespace quarnkit {
class QuarnDocument;
}

namespace quarn {

class QuarnPDFView;
class ViewerModel;

class PageViewHost : public QWidget {
    Q_OBJECT
public:
    PageViewHost(quarnkit::QuarnDocument* document, ViewerModel* model, QWidget* parent = nullptr);

    QuarnPDFView* view() const { return view_; }
    // Brings the page view up to date with the document and the model.
    void refresh();
    // The document behind the window was replaced (Revert).
    void setDocument(quarnkit::QuarnDocument* document);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void syncTool();
    QPointer<quarnkit::QuarnDocument> document_;
    QPointer<ViewerModel> model_;
    QuarnPDFView* view_;
};

} // namespace quarn
