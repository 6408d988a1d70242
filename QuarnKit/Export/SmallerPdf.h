#pragma once
// Lighter pictures for the "Smaller PDF" export: every picture a JPEG can
// hold in its own colour space is scaled down for the screen and stored again
// as a JPEG in that space, where that is smaller than what the file holds now. Then the file itself is written
// compactly: its objects in compressed object streams, its streams
// compressed again.
#include "Platform/PdfDocument.h"
#include "QuarnKit/Export/ExportSettings.h"

#include <QByteArray>

#include <functional>

namespace quarnkit::SmallerPdf {

// Longest side of a picture after compression, in pixels: enough for a
// letter page shown full screen.
inline constexpr int maximumSide = 1600;
inline constexpr double jpegQuality = 0.7;

// Compresses the document's pictures in place; `check` runs before each one
// and may throw to stop. Pictures that cannot be read are left as they are.
// Returns how many were replaced.
int compressImages(platform::PdfDocument& doc, const std::function<void()>& check = {});

// `bytes`, the document `doc` written with `options`, written again
// compactly; as they are when that is not smaller.
QByteArray compactFile(const QByteArray& bytes, const platform::PdfDocument& doc, const ExportWriteOptions& options);

} // namespace quarnkit::SmallerPdf
