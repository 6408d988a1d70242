#pragma once
// A mark's value as the core reads and writes it: every key ravlen knows of
// one annotation, in its page's user space (points, y up).
#include "Platform/PdfAnnotations.h"

namespace quarnkit {

using Annotation = platform::PdfAnnotation;
using AnnotationColor = platform::PdfColor;

} // namespace quarnkit
