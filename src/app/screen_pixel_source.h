#pragma once
#include <QColor>
#include <QPoint>
#include <functional>
#include <optional>

namespace pellavo {

// The colour of the screen pixel at a position in global (desktop) coordinates; none where the
// platform does not give out screen pixels.
using TScreenPixelSource = std::function<std::optional<QColor>(const QPoint& global)>;

// Grabs that one pixel from the screen. Works where the window system lets a program read the
// screen (X11); elsewhere the grab comes back empty and the answer is none.
std::optional<QColor> ReadScreenPixel(const QPoint& global);

}  // namespace pellavo
