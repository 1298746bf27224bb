#include "ui/FunctionsLibrary.h"

#include <QWidget>

void SetFormTopMost(QWidget* form, bool onTop) {
    if (!form) return;
    if (form->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool visible = form->isVisible();
    const QRect geometry = form->geometry();
    // Changing a window flag hides the window; show it again where it was, without
    // taking the focus from the window the user works in.
    form->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) {
        const bool noActivate = form->testAttribute(Qt::WA_ShowWithoutActivating);
        form->setAttribute(Qt::WA_ShowWithoutActivating, true);
        form->setGeometry(geometry);
        form->show();
        form->setAttribute(Qt::WA_ShowWithoutActivating, noActivate);
    }
}
