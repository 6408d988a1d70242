#include "Quarn/Find/FindOnPages.h"

#include "Quarn/Find/FindModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "Quarn/Viewer/PageInteractions.h"
#include "Quarn/Viewer/TextSelection.h"

namespace quarn {

void showFindOnPages(FindModel& find, QuarnPDFView& view)
{
    const QPointer<FindModel> model(&find);
    QObject::connect(&find, &FindModel::highlightsChanged, &view, [&view](const std::vector<PageHighlight>& shown) {
        view.interactions().textSelection().setHighlights(shown);
    });
    QObject::connect(&find, &FindModel::matchShown, &view, [&view, model](const quarnkit::PageSelection& match) {
        view.interactions().textSelection().clear();
        view.interactions().textSelection().setHighlights(model->highlights());
        view.goToSelection(match);
    });
    QObject::connect(&find, &FindModel::closed, &view, [&view](bool wasShown) {
        view.interactions().textSelection().setHighlights({});
        view.interactions().textSelection().clear();
        if (wasShown && !view.hasFocus()) view.setFocus(Qt::OtherFocusReason);
    });
    const QPointer<QuarnPDFView> page(&view);
    find.selectedText = [page] {
        return page ? QString::fromStdString(page->interactions().textSelection().current().text) : QString();
    };
    find.shownDocument = [page] { return page ? page->quarnDocument() : nullptr; };
    view.findIsPresented = [model] { return model && model->presented(); };
    view.onDismissFind = [model] {
        if (model) model->close();
    };
}

} // namespace quarn
