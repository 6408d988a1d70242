#pragma once
// The page view's side of markup: the view draws with the window's tool and
// reports the selected mark and its style, tool and swatch keys to the markup
// model, and carries out what the model asks of the selected mark (restyle,
// select, reveal, remove).
namespace quarn {

class MarkupModel;
class QuarnPDFView;

// Subscribes `view` to `markup` for as long as both live.
void showMarkupOnPages(MarkupModel& markup, QuarnPDFView& view);

} // namespace quarn
