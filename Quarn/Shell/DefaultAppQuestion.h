#pragma once
// The question asked before ravlen makes itself the default PDF application
// (Linux asks nothing itself): from Settings and from the welcome window.
#include <functional>

class QWidget;

namespace quarn {

// Window-modal on `window`. `answer` is called once: with the user's choice,
// or false when the question goes unanswered.
void askToUseRavlenForPdfs(QWidget* window, std::function<void(bool)> answer);

} // namespace quarn
