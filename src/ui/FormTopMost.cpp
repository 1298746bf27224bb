#include "ui/FormTopMost.h"

#include <QWidget>

namespace ui {

void SetFormTopMost(QWidget* form, bool onTop) {
    if (!form) return;
    // Changing the window flags recreates the native window and hides it; the window
    // comes back where it was, without taking the focus from the window the user is in.
    const QRect geometry = form->geometry();
    const bool wasShowingWithoutActivating = form->testAttribute(Qt::WA_ShowWithoutActivating);
    form->setAttribute(Qt::WA_ShowWithoutActivating, true);
    form->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    form->setGeometry(geometry);
    form->show();
    form->setAttribute(Qt::WA_ShowWithoutActivating, wasShowingWithoutActivating);
}

} // namespace ui
