#pragma once
// The page view's side of signing: tells the signing model where the middle
// of the view falls and shows what failed to be placed.
namespace quarn {

class QuarnPDFView;
class SigningModel;

// Subscribes `view` to `signing` for as long as both live.
void showSigningOnPages(SigningModel& signing, QuarnPDFView& view);

} // namespace quarn
