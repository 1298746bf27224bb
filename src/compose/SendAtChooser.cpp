#include "compose/SendAtChooser.h"

#include "core/DateTimeText.h"

#include <QButtonGroup>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QRadioButton>

SendAtChooser::SendAtChooser(QWidget* parent) : QGroupBox(QStringLiteral("Send at"), parent) {
    setObjectName(QStringLiteral("fraSendAt"));
    optSendNow = new QRadioButton(QStringLiteral("Now"), this);
    optSendNow->setObjectName(QStringLiteral("optSendNow"));
    optSendAt = new QRadioButton(QStringLiteral("At"), this);
    optSendAt->setObjectName(QStringLiteral("optSendAt"));
    auto* group = new QButtonGroup(this);
    group->addButton(optSendNow);
    group->addButton(optSendAt);
    optSendNow->setChecked(true);

    DtpSendAt = new QDateTimeEdit(this);
    DtpSendAt->setObjectName(QStringLiteral("DtpSendAt"));
    DtpSendAt->setCalendarPopup(true);
    DtpSendAt->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    // The box holds a wall-clock date and time, not a moment of this machine's zone: in
    // that zone a time in the hour a clock change skips would be moved by the box.
    DtpSendAt->setTimeSpec(Qt::UTC);
    // An hour from now, on the minute.
    const QDateTime later = QDateTime::currentDateTime().addSecs(3600);
    DtpSendAt->setDateTime(QDateTime(later.date(),
                                     QTime(later.time().hour(), later.time().minute()), Qt::UTC));
    DtpSendAt->setEnabled(false);
    connect(optSendAt, &QRadioButton::toggled, DtpSendAt, &QWidget::setEnabled);

    auto* h = new QHBoxLayout(this);
    h->addWidget(optSendNow);
    h->addWidget(optSendAt);
    h->addWidget(DtpSendAt);
    h->addStretch();
}

QVariant SendAtChooser::sendAfter() const {
    if (!optSendAt->isChecked()) return QVariant();
    // The date and the time as shown: a time in an hour a clock change skips is kept as
    // it was chosen, not moved by a conversion.
    const QDate d = DtpSendAt->date();
    const QTime t = DtpSendAt->time();
    return dateText(d) + QLatin1Char(' ') +
           QTime(t.hour(), t.minute()).toString(QStringLiteral("HH:mm:ss"));
}
