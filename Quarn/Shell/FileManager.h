#pragma once
// The desktop's file manager.
#include <QString>

namespace quarn {

// Shows a file in the desktop's file manager (selected where it can), else opens its folder.
void revealInFolder(const QString& path);

} // namespace quarn
