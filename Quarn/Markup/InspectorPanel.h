#pragma once
// What the inspector shows: for the current tool, or for the selected mark.
// Built by the window's model on demand and never stored.
#include "QuarnKit/Markup/MarkupTool.h"

#include <QString>

#include <optional>
#include <vector>

namespace quarn {

struct MarkupPanel {
    QString title;
    std::optional<QString> shortcut; // the tool's key letter; none for a selection
    QString hint;
    std::vector<quarnkit::RGBA> palette;
    quarnkit::RGBA color;
    double stroke = 3;
    bool filled = false;
    double textSize = 16;
    quarnkit::TextFont font = quarnkit::TextFont::sans;
    bool head = false;
    bool showsColor = false;
    bool showsStroke = false;
    bool showsFill = false;
    bool showsText = false;
    bool showsHead = false;
    bool isSelection = false;
    bool explainsRedaction = false;

    // The first palette entry within 0.04 of `color` on red, green and blue; -1 for none.
    int chosenSwatch() const;
};

// The key that chooses a tool, as the shortcut table has it ("P" for the pen).
QString toolKey(quarnkit::MarkupTool tool);

} // namespace quarn
