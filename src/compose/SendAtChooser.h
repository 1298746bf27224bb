#pragma once

#include <QGroupBox>
#include <QVariant>

class QDateTimeEdit;
class QRadioButton;

// "Send at": now (the default), or a date and time on this machine's clock. The chosen
// moment is kept as the wall clock shows it, so a message set for 09:00 goes at the
// first send pass when the clock says 09:00 or later, whatever clock change came
// between.
class SendAtChooser : public QGroupBox {
    Q_OBJECT
public:
    explicit SendAtChooser(QWidget* parent = nullptr);

    // Null for now; otherwise the moment as the program stores moments
    // ("yyyy-MM-dd HH:mm:00").
    QVariant sendAfter() const;

    QRadioButton* optSendNow;
    QRadioButton* optSendAt;
    QDateTimeEdit* DtpSendAt;
};
