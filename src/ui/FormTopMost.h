#pragma once

class QWidget;

namespace ui {

// Keeps a window above all other windows (onTop true) or lets it be covered again
// (false). The window keeps its place and size, is shown, and is not activated.
void SetFormTopMost(QWidget* form, bool onTop);

} // namespace ui
