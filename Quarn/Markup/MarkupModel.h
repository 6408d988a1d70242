#pragma once
// The markup state of one document window: the chosen tool and its style
// (colour, swatch, stroke, text size, fill), the remembered styles by tool,
// and the selected mark as the page view reports it, with its style for the
// inspector. The style setters restyle the selected mark when there is one
// and remember the value for its tool, else for the current tool. The model
// knows no view: the page view subscribes to it (MarkupOnPages.h) and carries
// out what it asks of the selected mark.
#include "Quarn/Markup/InspectorPanel.h"
#include "Quarn/Markup/MarkRef.h"
#include "QuarnKit/Markup/MarkupTool.h"
#include "QuarnKit/Markup/ToolMemory.h"
#include "QuarnKit/Shell/RGBA.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {
class UserDefaults;
}

namespace quarn {

class ViewerModel;
struct MarkRef;

class MarkupModel : public QObject {
    Q_OBJECT

public:
    // The markup of the window whose viewer is `viewer`: made on first use, a
    // child of the viewer model, reading and saving the tool memory in the
    // viewer's settings.
    static MarkupModel& of(ViewerModel& viewer);

    quarnkit::MarkupTool tool() const { return tool_; }
    void setTool(quarnkit::MarkupTool tool);
    // Makes `tool` current, remembered for its group, with its remembered
    // style; any tool but select drops the selected mark.
    void chooseTool(quarnkit::MarkupTool tool);
    const quarnkit::RGBA& color() const { return color_; }
    int swatchIndex() const { return swatchIndex_; }
    double stroke() const { return stroke_; }
    double textSize() const { return textSize_; }
    bool filled() const { return filled_; }
    // With a mark selected they restyle it (one undo step) and remember the
    // value for the mark's tool; otherwise they remember it for the current
    // tool. Either way only a tool or kind that takes the property is changed.
    void setColor(const quarnkit::RGBA& color);
    void setStroke(double width);
    void setFilled(bool filled);
    // Rounded to whole points, halves away from zero.
    void setTextSize(double size);
    void setFont(quarnkit::TextFont font);
    // The style new marks are drawn with.
    quarnkit::ToolStyle toolStyle() const;
    // The remembered styles by tool and the remembered tool of each group.
    const quarnkit::ToolMemory& toolMemory() const { return toolMemory_; }
    // Remembers the tool as its group's choice and saves the memory.
    void rememberGroupChoice(quarnkit::MarkupTool tool);
    // Loads the current tool's remembered style into colour, stroke, text size, fill and swatch.
    void loadToolStyle();
    // Shows a colour as the current one, with its swatch, remembering nothing.
    void showColor(const quarnkit::RGBA& color);

    // The selected mark, its style, and what the inspector shows now.
    bool hasSelection() const { return hasSelection_; }
    std::optional<MarkRef> selectedMark() const;
    const std::optional<quarnkit::MarkStyle>& inspected() const { return inspected_; }
    MarkupPanel markupPanel() const;
    // Chooses Select, shows the mark with some room around it and selects it;
    // nothing for a mark that is gone.
    void reveal(const MarkRef& mark);
    // Removes the marks as one undo step, "Delete Mark" or "Delete N Marks".
    void deleteMarks(const std::vector<MarkRef>& marks);
    // Has the page view select a mark (none: drop the selection).
    void select(std::optional<MarkRef> mark);

    // Reports of the page view's side: the selected mark (none for none) and its style.
    void noteSelection(bool selected, std::optional<MarkRef> mark);
    void noteInspected(std::optional<quarnkit::MarkStyle> style);
    // Set by the page view's side: where a mark is on the page and which one
    // the view has selected; none without a view.
    std::function<std::optional<MarkRef>()> selectedOnPage;

signals:
    void toolChanged(quarnkit::MarkupTool tool);
    void styleChanged();
    void inspectedChanged();
    void hasSelectionChanged(bool selected);
    // The page view selected a mark, another one or none (also when the flag above stays).
    void selectedMarkChanged();
    // Any of the above.
    void changed();

    // Asked of the page view: select a mark (none: drop the selection), show
    // and select one, restyle the selected one, remove marks as one step.
    void selectRequested(std::optional<MarkRef> mark);
    void revealRequested(const MarkRef& mark);
    void colorApplied(const quarnkit::RGBA& color);
    void strokeApplied(double width);
    void fillApplied(bool filled);
    void textSizeApplied(double size);
    void fontApplied(quarnkit::TextFont font);
    void removeRequested(const std::vector<MarkRef>& marks, const QString& actionName);

private:
    explicit MarkupModel(ViewerModel& viewer);
    // Takes one changed field into the remembered style of `tool`; saved and
    // loaded only when it changed.
    void rememberStyle(quarnkit::MarkupTool tool, const std::function<void(quarnkit::ToolStyle&)>& change);
    void setHasSelection(bool selected);

    ViewerModel& viewer_;
    quarnkit::ToolMemory toolMemory_;
    quarnkit::MarkupTool tool_ = quarnkit::MarkupTool::select;
    quarnkit::RGBA color_ = quarnkit::RGBA::ink;
    int swatchIndex_ = 1;
    double stroke_ = 3;
    double textSize_ = 18;
    bool filled_ = false;
    bool hasSelection_ = false;
    std::optional<quarnkit::MarkStyle> inspected_;
};

} // namespace quarn
