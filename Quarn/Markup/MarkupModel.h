#pragma once
// The markup state of one document window: the chosen tool and its style
// (colour, swatch, stroke, text size, fill), the remembered styles by tool,
// and the selected mark with its style for the inspector. The style setters
// restyle the selected mark when there is one and remember the value for its
// tool, else for the current tool; the actions on the selected mark are
// edits of the document (QuarnKit/Markup/MarkEdits.h). The model knows no
// view: the page view's gestures select through `selection()`, and the view
// follows the model's signals (MarkupOnPages.h).
#include "Quarn/Markup/InspectorPanel.h"
#include "Quarn/Markup/MarkRef.h"
#include "Quarn/Markup/MarkSelection.h"
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
    std::optional<MarkRef> selectedMark() const { return selection_->mark(); }
    const std::optional<quarnkit::MarkStyle>& inspected() const { return inspected_; }
    MarkupPanel markupPanel() const;
    // What the page view selects through and follows.
    MarkSelection& selection() const { return *selection_; }
    // Selects a mark of the window's document (none: drops the selection).
    void select(std::optional<MarkRef> mark);
    // Chooses Select, selects the mark and has the page view show it with
    // some room around it; nothing for a mark that is gone.
    void reveal(const MarkRef& mark);
    // Reveals the mark and, a text box or a note, opens it for typing, as
    // Return does on the page.
    void open(const MarkRef& mark);
    // Removes the marks as one undo step, "Delete Mark" or "Delete N Marks".
    void deleteMarks(const std::vector<MarkRef>& marks);

    // Actions on the selected mark, one undo step each; nothing without one.
    // The arrow head goes to the selected line only, never to the tool memory.
    void setArrowhead(bool on);
    void duplicateSelection();
    void bringSelectionToFront();
    void sendSelectionToBack();
    void deleteSelection();

signals:
    void toolChanged(quarnkit::MarkupTool tool);
    void styleChanged();
    void inspectedChanged();
    void hasSelectionChanged(bool selected);
    // Another mark or none was selected (also when the flag above stays).
    void selectedMarkChanged();
    // Any of the above.
    void changed();

    // Asked of the page view: show a mark just selected, with some room around it.
    void revealRequested(const MarkRef& mark);
    // Asked of the page view: open the mark just revealed for typing.
    void openRequested(const MarkRef& mark);

private:
    explicit MarkupModel(ViewerModel& viewer);
    // Takes one changed field into the remembered style of `tool`; saved and
    // loaded only when it changed.
    void rememberStyle(quarnkit::MarkupTool tool, const std::function<void(quarnkit::ToolStyle&)>& change);
    // After another selection, or an edit while a mark stays selected.
    void selectionChanged();
    void inspectSelection();
    // Reads the selected mark's style and heading anew; true when either changed.
    bool inspect();

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
    QString inspectedTitle_;   // the inspector's heading for it
    MarkSelection* selection_; // a child
};

} // namespace quarn
