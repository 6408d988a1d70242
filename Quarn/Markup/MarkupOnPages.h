#pragma once
// The page view's side of markup: the view draws with the window's tool,
// selects marks through the model's selection and follows it, reports tool
// and swatch keys to the model, and scrolls to a mark the model reveals.
namespace quarn {

class MarkupModel;
class QuarnPDFView;

// Subscribes `view` to `markup` for as long as both live.
void showMarkupOnPages(MarkupModel& markup, QuarnPDFView& view);

} // namespace quarn
