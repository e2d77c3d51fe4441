#pragma once

#include <QIcon>
#include <QImage>

namespace a5merge {

// Two A5 halves on one A4 sheet, drawn at `size` pixels square.
QImage PaintIcon(int size);

// The sizes the icon is offered in, as the hicolor theme has them.
inline constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// The program's icon at those sizes, each painted when first asked for.
QIcon AppIcon();

}  // namespace a5merge
