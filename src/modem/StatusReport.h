#pragma once

#include <QDateTime>
#include <QString>

// A status report of the network (an SMS-STATUS-REPORT): what became of a message the
// modem sent, found by the message reference the modem gave that message.
struct StatusReport {
    bool valid = false;
    int reference = -1;    // TP-MR of the message it reports on (0..255)
    QString recipient;     // TP-RA: the number the message went to
    QString centreTime;    // TP-SCTS: when the service centre took it ("yy/MM/dd,hh:mm:ss+zz")
    QString dischargeTime; // TP-DT: when its fate was settled
    int status = -1;       // TP-Status
};

// What a TP-Status says: delivered (0x00-0x1F), still being tried by the service centre
// (0x20-0x3F), or failed for good (0x40-0x7F; the reserved values above count as
// failed).
enum class DeliveryOutcome { Delivered, Trying, Failed };
DeliveryOutcome outcomeOf(int status);

// A text-mode report from its fields: "<fo>,<mr>,[\"<ra>\"],[<tora>],\"<scts>\",\"<dt>\",<st>"
// (as +CDS: shows it, and as AT+CMGL lists a stored one from <fo> on). Not valid when a
// field is missing or out of range, or the first octet is not a status report's.
StatusReport parseStatusReportFields(const QString& fields);
// A "+CDS: ..." report: the line of text mode, or in PDU mode "+CDS: <length>", a line
// break and the report's PDU in hex (the length must be the PDU's).
StatusReport parseStatusReportLine(const QString& line);
// A report read from an SMS-STATUS-REPORT PDU (its fields as the PDU reader gives them).
StatusReport statusReportOf(int reference, const QString& recipient, const QString& centreTime,
                            const QString& dischargeTime, int status);

// A network time stamp "yy/MM/dd,hh:mm:ss+zz" (zz in quarter hours) as a moment; invalid
// when malformed.
QDateTime networkTime(const QString& stamp);
