#include "Quarn/Markup/MarkupOnPages.h"

#include "Quarn/Markup/MarkEditor.h"
#include "Quarn/Markup/RestyleMark.h"
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
    editor.onSelection = [model, &editor](bool selected) {
        if (model) model->noteSelection(selected, editor.selected());
    };
    editor.onInspect = [model](std::optional<quarnkit::MarkStyle> style) {
        if (model) model->noteInspected(style);
    };
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
    const QPointer<QuarnPDFView> page(&view);
    markup.selectedOnPage = [page, &editor] { return page ? editor.selected() : std::nullopt; };

    QObject::connect(&markup, &MarkupModel::selectRequested, &view,
                     [&editor](std::optional<MarkRef> mark) { editor.select(mark); });
    QObject::connect(&markup, &MarkupModel::revealRequested, &view, [&view, &editor, model](const MarkRef& mark) {
        const quarnkit::QuarnDocument* document = view.quarnDocument();
        const auto annotation = document ? quarnkit::MarkEdits::find(*document, mark.page, mark.object) : std::nullopt;
        if (!annotation || !model) return;
        view.setTool(MarkupTool::select, model->toolStyle());
        // The mark with 40 points of room above and to the left.
        view.goToPage(mark.page, platform::PdfPoint{annotation->rect.minX() - 40, annotation->rect.maxY() + 40});
        editor.select(mark);
    });
    QObject::connect(&markup, &MarkupModel::colorApplied, &view,
                     [&editor](const RGBA& color) { applyColor(editor, color); });
    QObject::connect(&markup, &MarkupModel::strokeApplied, &view,
                     [&editor](double width) { applyStroke(editor, width); });
    QObject::connect(&markup, &MarkupModel::fillApplied, &view, [&editor](bool filled) { applyFill(editor, filled); });
    QObject::connect(&markup, &MarkupModel::textSizeApplied, &view,
                     [&editor](double size) { applyTextSize(editor, size); });
    QObject::connect(&markup, &MarkupModel::fontApplied, &view,
                     [&editor](quarnkit::TextFont font) { applyFont(editor, font); });
    QObject::connect(
        &markup, &MarkupModel::removeRequested, &view,
        [&editor](const std::vector<MarkRef>& marks, const QString& name) { editor.removeMarks(marks, name); });
}

} // namespace quarn
