#include "Quarn/Markup/MarkupOnPages.h"

#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/MarkEdits.h"

namespace quarn {

using quarnkit::MarkupTool;
using quarnkit::RGBA;

void showMarkupOnPages(MarkupModel& markup, QuarnPDFView& view)
{
    const QPointer<MarkupModel> model(&markup);
    const QPointer<QuarnPDFView> page(&view);
    view.onSelection = [model, page](bool selected) {
        if (model) model->noteSelection(selected, page ? page->selectedAnnotation() : std::nullopt);
    };
    view.onInspect = [model](std::optional<quarnkit::MarkStyle> style) {
        if (model) model->noteInspected(style);
    };
    view.onToolChange = [model](MarkupTool tool) {
        if (model) model->setTool(tool);
    };
    view.onSwatchIndex = [model](int index) {
        if (!model || index < 0 || index >= int(RGBA::swatches.size())) return;
        model->showColor(RGBA::swatches[size_t(index)]);
    };
    view.onChooseTool = [model](MarkupTool tool) {
        if (model) model->chooseTool(tool);
    };
    view.onChooseSwatch = [model](int index) {
        if (!model) return;
        const std::vector<RGBA> palette = model->markupPanel().palette;
        if (index < 0 || index >= int(palette.size())) return;
        model->setColor(palette[size_t(index)]);
    };
    markup.selectedOnPage = [page] { return page ? page->selectedAnnotation() : std::nullopt; };

    QObject::connect(&markup, &MarkupModel::selectRequested, &view,
                     [&view](std::optional<MarkRef> mark) { view.select(mark); });
    QObject::connect(&markup, &MarkupModel::revealRequested, &view, [&view, model](const MarkRef& mark) {
        const quarnkit::QuarnDocument* document = view.quarnDocument();
        const auto annotation = document ? quarnkit::MarkEdits::find(*document, mark.page, mark.object) : std::nullopt;
        if (!annotation || !model) return;
        view.setTool(MarkupTool::select, model->toolStyle());
        // The mark with 40 points of room above and to the left.
        view.goToPage(mark.page, platform::PdfPoint{annotation->rect.minX() - 40, annotation->rect.maxY() + 40});
        view.select(mark);
    });
    QObject::connect(&markup, &MarkupModel::colorApplied, &view, &QuarnPDFView::applyColor);
    QObject::connect(&markup, &MarkupModel::strokeApplied, &view, &QuarnPDFView::applyStroke);
    QObject::connect(&markup, &MarkupModel::fillApplied, &view, &QuarnPDFView::applyFill);
    QObject::connect(&markup, &MarkupModel::textSizeApplied, &view, &QuarnPDFView::applyTextSize);
    QObject::connect(&markup, &MarkupModel::fontApplied, &view, &QuarnPDFView::applyFont);
    QObject::connect(&markup, &MarkupModel::removeRequested, &view, &QuarnPDFView::removeMarks);
}

} // namespace quarn
