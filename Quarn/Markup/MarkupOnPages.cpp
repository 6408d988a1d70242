#include "Quarn/Markup/MarkupOnPages.h"

#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/MarkupModel.h"
#include "Quarn/Viewer/QuarnPDFView.h"
#include "QuarnKit/Markup/MarkEdits.h"

namespace quarn {

using quarnkit::MarkupTool;
using quarnkit::RGBA;

void showMarkupOnPages(MarkupModel& markup, QuarnPDFView& view)
{
    const QPointer<MarkupModel> model(&markup);
    MarkEditor& editor = MarkEditor::of(view);
    editor.follow(markup.selection());
    editor.onToolChange = [model](MarkupTool tool) {
        if (model) model->setTool(tool);
    };
    editor.onSwatchIndex = [model](int index) {
        if (!model || index < 0 || index >= int(RGBA::swatches.size())) return;
        model->showColor(RGBA::swatches[size_t(index)]);
    };
    editor.onChooseTool = [model](MarkupTool tool) {
        if (model) model->chooseTool(tool);
    };
    editor.onChooseSwatch = [model](int index) {
        if (!model) return;
        const std::vector<RGBA> palette = model->markupPanel().palette;
        if (index < 0 || index >= int(palette.size())) return;
        model->setColor(palette[size_t(index)]);
    };
    QObject::connect(&markup, &MarkupModel::revealRequested, &view, [&view](const MarkRef& mark) {
        const quarnkit::QuarnDocument* document = view.quarnDocument();
        const auto annotation = document ? quarnkit::MarkEdits::find(*document, mark.page, mark.object) : std::nullopt;
        if (!annotation) return;
        // The mark with 40 points of room above and to the left.
        view.goToPage(mark.page, platform::PdfPoint{annotation->rect.minX() - 40, annotation->rect.maxY() + 40});
    });
    QObject::connect(&markup, &MarkupModel::openRequested, &view, [&editor] { editor.editSelectedText(); });
}

} // namespace quarn
