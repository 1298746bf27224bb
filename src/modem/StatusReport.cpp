#include "modem/StatusReport.h"

#include "modem/AtAnswer.h"
#include "modem/SmsPdu.h"

#include <QRegularExpression>


DeliveryOutcome outcomeOf(int status) {
    if (status >= 0 && status <= 0x1F) return DeliveryOutcome::Delivered;
    if (status >= 0x20 && status <= 0x3F) return DeliveryOutcome::Trying;
    return DeliveryOutcome::Failed;
}

namespace {

bool byteValue(const QString& field, int* value) {
    bool ok = false;
    const int v = field.trimmed().toInt(&ok);
    if (!ok || v < 0 || v > 255 || field.trimmed().isEmpty()) return false;
    *value = v;
    return true;
}

QString unquoted(const QString& field, bool* ok) {
    const QString f = field.trimmed();
    *ok = f.size() >= 2 && f.startsWith(u'"') && f.endsWith(u'"');
    return *ok ? f.mid(1, f.size() - 2) : QString();
}

} // namespace

StatusReport parseStatusReportFields(const QString& fields) {
    StatusReport r;
    const QStringList f = at::splitFields(fields);
    if (f.size() != 7) return r;
    int fo = 0, mr = 0, st = 0, tora = 0;
    if (!byteValue(f[0], &fo) || (fo & 0x03) != 0x02) return r; // TP-MTI: status report
    if (!byteValue(f[1], &mr) || !byteValue(f[6], &st)) return r;
    if (!f[3].trimmed().isEmpty() && !byteValue(f[3], &tora)) return r;
    bool ok = true;
    if (!f[2].trimmed().isEmpty()) {
        r.recipient = unquoted(f[2], &ok);
        if (!ok) return r;
    }
    r.centreTime = unquoted(f[4], &ok);
    if (!ok) return r;
    r.dischargeTime = unquoted(f[5], &ok);
    if (!ok) return r;
    r.reference = mr;
    r.status = st;
    r.valid = true;
    return r;
}

StatusReport statusReportOf(int reference, const QString& recipient, const QString& centreTime,
                            const QString& dischargeTime, int status) {
    StatusReport r;
    if (reference < 0 || reference > 255 || status < 0 || status > 255) return r;
    r.reference = reference;
    r.recipient = recipient;
    r.centreTime = centreTime;
    r.dischargeTime = dischargeTime;
    r.status = status;
    r.valid = true;
    return r;
}

StatusReport parseStatusReportLine(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1String("+CDS:"))) return StatusReport{};
    const qsizetype lineBreak = t.indexOf(QLatin1Char('\n'));
    if (lineBreak < 0) return parseStatusReportFields(t.mid(5).trimmed());
    // PDU mode: the header gives the TPDU's length, the next line the PDU.
    bool lengthOk = false;
    const int length = t.mid(5, lineBreak - 5).trimmed().toInt(&lengthOk);
    if (!lengthOk) return StatusReport{};
    const pdu::Decoded d = pdu::decode(t.mid(lineBreak + 1), length);
    if (!d.ok || d.message.type != pdu::Type::StatusReport) return StatusReport{};
    const pdu::Message& m = d.message;
    return statusReportOf(m.reference, m.number, m.timeStamp, m.dischargeTime, m.status);
}

QDateTime networkTime(const QString& stamp) {
    static const QRegularExpression re(
        QStringLiteral(R"(^(\d\d)/(\d\d)/(\d\d),(\d\d):(\d\d):(\d\d)([+-])(\d\d)$)"));
    const QRegularExpressionMatch m = re.match(stamp.trimmed());
    if (!m.hasMatch()) return QDateTime();
    const QDate date(2000 + m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    const int quarters = m.captured(8).toInt();
    if (!date.isValid() || !time.isValid() || quarters > 79) return QDateTime();
    const int offset = (m.captured(7) == QLatin1String("-") ? -1 : 1) * quarters * 15 * 60;
    return QDateTime(date, time, Qt::OffsetFromUTC, offset);
}
