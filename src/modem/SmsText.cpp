#include "modem/SmsText.h"

#include "core/AppContext.h"
#include "modem/GsmAlphabet.h"
#include "modem/SmsPdu.h"

#include <QStringView>

namespace {

constexpr char32_t kCtrlZ = 26;
constexpr char32_t kEsc = 27;
enum class Set { Gsm, Latin1, Ascii };

Set setOf(const QString& characterSet) {
    const QString name = characterSet.trimmed().toUpper();
    if (name == QLatin1String("GSM")) return Set::Gsm;
    if (name == QLatin1String("ANSI") || name == QLatin1String("8859-1")) return Set::Latin1;
    return Set::Ascii;
}

// Positions a character takes in text mode; 0 when the set cannot carry it. In the GSM
// set a character of the extension table would have to be written as ESC + code, and
// ESC cancels the text: such characters are not carried in text mode (PDU mode carries
// them). Nor is the Greek capital Xi, whose code is Ctrl-Z.
int width(char32_t c, Set set) {
    if (c == kCtrlZ || c == kEsc) return 0;
    switch (set) {
    case Set::Gsm: {
        const int code = gsm::codeOf(c);
        return code < 0 || code >= 0x100 || code == 0x1A ? 0 : 1;
    }
    case Set::Latin1:
        return c <= 0xFF ? 1 : 0;
    case Set::Ascii:
        return c <= 0x7F ? 1 : 0;
    }
    return 0;
}

} // namespace

QString uncarriableCharacters(const QString& text, const QString& characterSet) {
    const Set set = setOf(characterSet);
    QList<char32_t> found;
    for (const char32_t c : QStringView(text).toUcs4()) {
        if (width(c, set) == 0 && !found.contains(c)) found << c;
    }
    return QString::fromUcs4(found.constData(), found.size());
}

QString encodeSmsText(const QString& text, const QString& characterSet) {
    const Set set = setOf(characterSet);
    QString wire;
    wire.reserve(text.size());
    for (const char32_t c : QStringView(text).toUcs4()) {
        if (width(c, set) == 0) continue;
        if (set != Set::Gsm) {
            wire += QChar(static_cast<char16_t>(c));
            continue;
        }
        wire += QChar(static_cast<char16_t>(gsm::codeOf(c)));
    }
    return wire;
}

QString decodeSmsText(const QString& wire, const QString& characterSet) {
    if (setOf(characterSet) != Set::Gsm) return wire;
    // Listings still show extension characters as ESC + code.
    QByteArray septets;
    septets.reserve(wire.size());
    for (const QChar c : wire)
        septets += c.unicode() < 128 ? char(c.unicode()) : char(0x20); // a blank stands in
    return gsm::fromSeptets(septets);
}

int smsLength(const QString& text, const QString& characterSet) {
    const Set set = setOf(characterSet);
    int length = 0;
    for (const char32_t c : QStringView(text).toUcs4())
        length += qMax(1, width(c, set));
    return length;
}

QStringList splitSmsParts(const QString& text, const QString& characterSet, int partLength) {
    const Set set = setOf(characterSet);
    QStringList parts;
    QString part;
    int used = 0;
    for (const char32_t c : QStringView(text).toUcs4()) {
        const int w = qMax(1, width(c, set));
        if (used + w > partLength && !part.isEmpty()) {
            parts << part;
            part.clear();
            used = 0;
        }
        part += QString::fromUcs4(&c, 1);
        used += w;
    }
    if (!part.isEmpty()) parts << part;
    return parts;
}

QString storedCharacterSet(AppContext& ctx) {
    const QueryResult rs =
        ctx.DBConnection.query(QStringLiteral("select CharacterSet from ModemSetting"));
    if (rs.isEmpty()) return QString();
    return rs.value(0, QStringLiteral("CharacterSet")).toString().trimmed();
}

QString describeCharacters(const QString& characters) {
    QStringList shown;
    for (const char32_t c : QStringView(characters).toUcs4()) {
        const QString code = QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            shown << code;
        else
            shown << QString::fromUcs4(&c, 1) + QStringLiteral(" (") + code + QLatin1Char(')');
    }
    return shown.join(QStringLiteral(", "));
}

bool isPduFormat(const QString& stored) {
    return stored.trimmed().compare(QLatin1String(MessageFormatPdu), Qt::CaseInsensitive) == 0;
}

bool storedPduMode(AppContext& ctx) {
    const QueryResult rs = ctx.DBConnection.query(QStringLiteral("select * from ModemSetting"));
    // An older database has no such column: it reads as text mode.
    if (rs.isEmpty() || rs.column(QStringLiteral("MessageFormat")) < 0) return false;
    return isPduFormat(rs.value(0, QStringLiteral("MessageFormat")).toString());
}

MessageSize measureMessage(const QString& text, bool pduMode, const QString& characterSet) {
    MessageSize s;
    if (!pduMode) {
        s.units = smsLength(text, characterSet);
        s.parts = qMax(1, (s.units + TextModeMaxLength - 1) / TextModeMaxLength);
        s.tooLong = s.units > TextModeMaxLength;
        s.shown = QStringLiteral("%1 of %2 characters").arg(s.units).arg(TextModeMaxLength);
        return s;
    }
    const pdu::Plan p = pdu::plan(text);
    s.units = p.units;
    s.parts = p.parts;
    s.tooLong = p.parts > pdu::MaxParts;
    const bool gsm7 = p.coding == pdu::Coding::Gsm7;
    s.shown = QStringLiteral("%1 %2, %3 SMS (%4 in one SMS, %5 per part of a long one; at most "
                             "%6 parts)")
                  .arg(p.units)
                  .arg(gsm7 ? QStringLiteral("GSM units") : QStringLiteral("Unicode units"))
                  .arg(p.parts)
                  .arg(p.singleLimit)
                  .arg(p.partLimit)
                  .arg(pdu::MaxParts);
    return s;
}

QString fitMessage(const QString& text, bool pduMode, const QString& characterSet) {
    if (!measureMessage(text, pduMode, characterSet).tooLong) return text;
    // Character boundaries (a surrogate pair is one character).
    QList<qsizetype> ends;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i + 1 < text.size() && text.at(i).isHighSurrogate() && text.at(i + 1).isLowSurrogate())
            ++i;
        ends << i + 1;
    }
    // The size only grows with the text: the longest fitting start by halving.
    qsizetype lo = 0, hi = ends.size(); // ends[lo-1] fits (0: the empty text), ends[hi-1] not
    while (hi - lo > 1) {
        const qsizetype mid = (lo + hi) / 2;
        if (measureMessage(text.left(ends.at(mid - 1)), pduMode, characterSet).tooLong)
            hi = mid;
        else
            lo = mid;
    }
    return lo == 0 ? QString() : text.left(ends.at(lo - 1));
}
