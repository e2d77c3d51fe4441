#pragma once

#include <QIcon>
#include <QImage>

namespace a5merge {

// Two A5 halves on one A4 sheet, drawn at `size` pixels square.
QImage PaintIcon(int size);

// The program's icon at 16 to 256 pixels.
QIcon AppIcon();

}  // namespace a5merge
