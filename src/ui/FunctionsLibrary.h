#pragma once

class QWidget;

// Keeps a window above all others (onTop true) or lets it go behind them again. The
// window keeps its place and size; a window that is showing stays shown without
// taking the focus.
void SetFormTopMost(QWidget* form, bool onTop);
