#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace ui {

// A label that reports clicks, like the program's clickable captions. A disabled
// label does not report them.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    // Shows the caption underlined (clickable look) or plain.
    void setUnderline(bool on) {
        QFont f = font();
        f.setUnderline(on);
        setFont(f);
    }
    bool underline() const { return font().underline(); }

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && isEnabled() &&
            rect().contains(e->position().toPoint()))
            emit clicked();
        QLabel::mouseReleaseEvent(e);
    }
};

} // namespace ui
