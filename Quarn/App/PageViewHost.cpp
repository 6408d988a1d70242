#include "Quarn/App/PageViewHost.h"

#include "Quarn/Find/FindModel.h"
#include "Quarn/Find/FindOnPages.h"
#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkKeys.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Markup/MarkupOnPages.h"
#include "Quarn/Pages/PagesModel.h"
#include "Quarn/Pages/PagesOnPages.h"
#include "Quarn/Signatures/SigningModel.h"
#include "Quarn/Signatures/SigningOnPages.h"

#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/ViewerModel.h"
#include "Quarn/Viewer/ViewerOnPages.h"
#include "QuarnKit/Document/QuarnDocument.h"
#include "QuarnKit/Shell/Design.h"

#include <QVBoxLayout>

namespace quarn {

PageViewHost::PageViewHost(quarnkit::QuarnDocument* document, ViewerModel* model, QWidget* parent)
    : QWidget(parent), document_(document), model_(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    view_ = new QuarnPDFView(this);
    layout->addWidget(view_);
    MarkEditor& marks = MarkEditor::of(*view_); // marks are edited on the pages
    listenForMarkKeys(*view_);                  // mark keys wherever the focus is in the window

    // Making the view: load, bind, tool, attach.
    if (document_) view_->load(document_.data());
    showViewerOnPages(*model_, *view_);
    showFindOnPages(FindModel::of(*model_), *view_);
    showMarkupOnPages(MarkupModel::of(*model_), *view_);
    showSigningOnPages(SigningModel::of(*model_), *view_);
    showPagesOnPages(PagesModel::of(*model_), *view_);
    // Page edits end the typing into a mark first; pages put back (an undo)
    // close the in-place editor and drop the selected mark.
    connect(&PagesModel::of(*model_), &PagesModel::editingFinishRequested, view_, [&marks] { marks.commitEditing(); });
    connect(&PagesModel::of(*model_), &PagesModel::pagesReset, view_, [&marks] {
        if (marks.hasEditor()) marks.closeEditor();
        marks.select(std::nullopt);
    });
    model_->setDocument(document_);
    syncTool();
    attachViewerToPages(*model_, *view_);

    connect(model_, &ViewerModel::changed, this, &PageViewHost::refresh);
    connect(&MarkupModel::of(*model_), &MarkupModel::changed, this, &PageViewHost::refresh);
    if (document_) connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &PageViewHost::refresh);
}

void PageViewHost::setDocument(quarnkit::QuarnDocument* document)
{
    if (document_) disconnect(document_, nullptr, this, nullptr);
    document_ = document;
    if (document_) connect(document_, &quarnkit::QuarnDocument::generationChanged, this, &PageViewHost::refresh);
    refresh();
}

void PageViewHost::refresh()
{
    if (!model_) return;
    if (document_ && view_->quarnDocument() != document_.data()) {
        // Another document object: the open editor closes without committing,
        // and the view starts over with the new PDF.
        MarkEditor& marks = MarkEditor::of(*view_);
        if (marks.hasEditor()) marks.closeEditor();
        view_->load(document_.data());
        marks.select(std::nullopt);
        view_->reportViewChanges();
    }
    model_->setDocument(document_);
    syncTool();
    attachViewerToPages(*model_, *view_);
}

void PageViewHost::syncTool()
{
    const MarkupModel& markup = MarkupModel::of(*model_);
    view_->setTool(markup.tool(), markup.toolStyle());
}

void PageViewHost::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // A column opening beside the pages keeps them in place, unfitted.
    if (model_ && !view_->holdsPlace()) model_->viewResized();
}

} // namespace quarn
