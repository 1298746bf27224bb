#include "modem/SmsPdu.h"

#include "modem/GsmAlphabet.h"

#include <QByteArray>
#include <QStringView>

#include <algorithm>

namespace pdu {

namespace {

constexpr int kSeptetsSingle = 160;
constexpr int kSeptetsPart = 153; // after a 6-octet header and one fill bit
constexpr int kUcs2Single = 70;
constexpr int kUcs2Part = 67;
constexpr int kMaxUserDataOctets = 140;
constexpr int kMaxAddressDigits = 20;
constexpr int kEsc = 0x1B;

// ---- reading ----------------------------------------------------------------------------

// Octets read in order; every read is checked against the end.
class Reader {
public:
    explicit Reader(const QByteArray& octets) : o_(octets) {}
    bool has(qsizetype n) const { return n >= 0 && pos_ + n <= o_.size(); }
    int take() { return static_cast<unsigned char>(o_.at(pos_++)); }
    QByteArray take(qsizetype n) {
        const QByteArray r = o_.mid(pos_, n);
        pos_ += n;
        return r;
    }
    qsizetype left() const { return o_.size() - pos_; }

private:
    const QByteArray& o_;
    qsizetype pos_ = 0;
};

struct Failure {
    QString reason;
};

const char kDigits[] = "0123456789*#abc"; // semi-octet values 0..14; 15 fills

// Semi-octet digits, low nibble first; a filler may only end an odd count.
QString semiOctetDigits(const QByteArray& value, int count) {
    QString digits;
    for (int k = 0; k < count; ++k) {
        const int b = static_cast<unsigned char>(value.at(k / 2));
        const int nibble = k % 2 ? b >> 4 : b & 0x0F;
        if (nibble == 0x0F) throw Failure{QStringLiteral("a filler inside an address")};
        digits += QLatin1Char(kDigits[nibble]);
    }
    return digits;
}

// `count` septets packed into `octets`, the first `fillBits` bits skipped.
QByteArray unpack(const QByteArray& octets, int count, int fillBits) {
    QByteArray septets;
    septets.reserve(count);
    for (int k = 0; k < count; ++k) {
        const int bit = fillBits + k * 7;
        const int i = bit / 8;
        const int shift = bit % 8;
        int v = static_cast<unsigned char>(octets.at(i)) >> shift;
        if (shift > 1 && i + 1 < octets.size())
            v |= static_cast<unsigned char>(octets.at(i + 1)) << (8 - shift);
        septets += char(v & 0x7F);
    }
    return septets;
}

// An address field: digit count (semi-octets), type, value.
QString readAddress(Reader& r, int& type) {
    if (!r.has(2)) throw Failure{QStringLiteral("the address is cut short")};
    const int count = r.take();
    type = r.take();
    if (!(type & 0x80)) throw Failure{QStringLiteral("a bad address type")};
    const int octets = (count + 1) / 2;
    if (!r.has(octets)) throw Failure{QStringLiteral("the address is cut short")};
    const QByteArray value = r.take(octets);
    if (((type >> 4) & 7) == 5) // alphanumeric: GSM 7-bit, count semi-octets of them
        return gsm::fromSeptets(unpack(value, count * 4 / 7, 0));
    if (count > kMaxAddressDigits) throw Failure{QStringLiteral("an address of over 20 digits")};
    if (count % 2 && (static_cast<unsigned char>(value.at(octets - 1)) >> 4) != 0x0F)
        throw Failure{QStringLiteral("an odd address without its filler")};
    const QString digits = semiOctetDigits(value, count);
    return ((type >> 4) & 7) == 1 && !digits.isEmpty() ? QLatin1Char('+') + digits : digits;
}

// "yy/MM/dd,hh:mm:ss+zz" from the 7 octets of a time stamp (digits swapped in each;
// the zone in quarter hours, its sign in bit 3).
QString readTimeStamp(Reader& r) {
    if (!r.has(7)) throw Failure{QStringLiteral("the time stamp is cut short")};
    auto two = [](int b) {
        const int hi = b & 0x0F, lo = b >> 4;
        if (hi > 9 || lo > 9) throw Failure{QStringLiteral("a time stamp that is not digits")};
        return QStringLiteral("%1%2").arg(hi).arg(lo);
    };
    QStringList f;
    for (int k = 0; k < 6; ++k)
        f << two(r.take());
    const int tz = r.take();
    const QString zone = two(tz & ~0x08);
    return f[0] + u'/' + f[1] + u'/' + f[2] + u',' + f[3] + u':' + f[4] + u':' + f[5] +
           ((tz & 0x08) ? u'-' : u'+') + zone;
}

// The alphabet of a data coding scheme; throws for a compressed text or a coding group
// the program cannot read.
Coding codingOf(int dcs) {
    const int group = dcs >> 4;
    if (group <= 0x7) { // general data coding, with or without automatic deletion
        if (dcs & 0x20) throw Failure{QStringLiteral("a compressed text")};
        switch ((dcs >> 2) & 3) {
        case 1:
            return Coding::Bit8;
        case 2:
            return Coding::Ucs2;
        default:
            return Coding::Gsm7; // reserved alphabets read as the default one
        }
    }
    if (group == 0xC || group == 0xD) return Coding::Gsm7; // message waiting
    if (group == 0xE) return Coding::Ucs2;
    if (group == 0xF) return (dcs & 0x04) ? Coding::Bit8 : Coding::Gsm7;
    throw Failure{QStringLiteral("an unknown data coding scheme %1").arg(dcs, 2, 16, QLatin1Char('0'))};
}

// The user data header's elements: the concatenation one is kept.
Concat readHeader(const QByteArray& header) {
    Concat c;
    qsizetype i = 0;
    while (i < header.size()) {
        if (i + 2 > header.size()) throw Failure{QStringLiteral("a bad user data header")};
        const int iei = static_cast<unsigned char>(header.at(i));
        const int len = static_cast<unsigned char>(header.at(i + 1));
        if (i + 2 + len > header.size()) throw Failure{QStringLiteral("a bad user data header")};
        const auto at = [&](int k) { return static_cast<unsigned char>(header.at(i + 2 + k)); };
        Concat found;
        if (iei == 0x00 && len == 3)
            found = Concat{at(0), false, at(1), at(2)};
        else if (iei == 0x08 && len == 4)
            found = Concat{at(0) << 8 | at(1), true, at(2), at(3)};
        // A part number of 0 or past the count makes the element void.
        if (found.parts > 0 && found.part >= 1 && found.part <= found.parts) c = found;
        i += 2 + len;
    }
    return c;
}

// TP-UDL and the user data, to the end of the PDU.
void readUserData(Reader& r, Message& m, bool headerIndicated) {
    if (!r.has(1)) throw Failure{QStringLiteral("the user data length is missing")};
    const int udl = r.take();
    const qsizetype octets = m.coding == Coding::Gsm7 ? (udl * 7 + 7) / 8 : udl;
    if (m.coding == Coding::Gsm7 ? udl > kSeptetsSingle : udl > kMaxUserDataOctets)
        throw Failure{QStringLiteral("user data longer than one SMS")};
    if (r.left() < octets) throw Failure{QStringLiteral("the user data is cut short")};
    if (r.left() > octets) throw Failure{QStringLiteral("octets after the user data")};
    const QByteArray ud = r.take(octets);

    int headerOctets = 0;
    if (headerIndicated) {
        if (ud.isEmpty()) throw Failure{QStringLiteral("a bad user data header")};
        headerOctets = 1 + static_cast<unsigned char>(ud.at(0));
        if (headerOctets > ud.size()) throw Failure{QStringLiteral("a bad user data header")};
        m.concat = readHeader(ud.mid(1, headerOctets - 1));
    }
    if (m.coding == Coding::Gsm7) {
        const int headerSeptets = (headerOctets * 8 + 6) / 7;
        if (headerSeptets > udl) throw Failure{QStringLiteral("a bad user data header")};
        const int fill = headerSeptets * 7 - headerOctets * 8;
        m.text = gsm::fromSeptets(unpack(ud.mid(headerOctets), udl - headerSeptets, fill));
        return;
    }
    const QByteArray data = ud.mid(headerOctets);
    if (m.coding == Coding::Bit8) {
        m.text = QString::fromLatin1(data);
        return;
    }
    if (data.size() % 2) throw Failure{QStringLiteral("UCS2 text of an odd number of octets")};
    m.text.reserve(data.size() / 2);
    for (qsizetype k = 0; k < data.size(); k += 2)
        m.text += QChar(char16_t(static_cast<unsigned char>(data.at(k)) << 8 |
                                 static_cast<unsigned char>(data.at(k + 1))));
}

QByteArray fromHex(const QString& hex) {
    const QString h = hex.trimmed();
    if (h.isEmpty()) throw Failure{QStringLiteral("no PDU")};
    if (h.size() % 2) throw Failure{QStringLiteral("an odd number of hex digits")};
    QByteArray out;
    out.reserve(h.size() / 2);
    auto nibble = [](QChar c) {
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9') return u - '0';
        if (u >= 'A' && u <= 'F') return u - 'A' + 10;
        if (u >= 'a' && u <= 'f') return u - 'a' + 10;
        throw Failure{QStringLiteral("a character that is not a hex digit")};
    };
    for (qsizetype k = 0; k < h.size(); k += 2)
        out += char(nibble(h.at(k)) << 4 | nibble(h.at(k + 1)));
    return out;
}

Message readPdu(const QString& hex, int tpduLength) {
    const QByteArray all = fromHex(hex);
    Reader r(all);
    Message m;
    const int smscLength = r.take();
    if (smscLength > 11 || !r.has(smscLength))
        throw Failure{QStringLiteral("a bad service centre part")};
    if (smscLength > 0) {
        const int type = r.take();
        const QByteArray value = r.take(smscLength - 1);
        int count = static_cast<int>(value.size()) * 2;
        if (count > 0 && (static_cast<unsigned char>(value.back()) >> 4) == 0x0F) --count;
        const QString digits = semiOctetDigits(value, count);
        m.serviceCentre = ((type >> 4) & 7) == 1 ? QLatin1Char('+') + digits : digits;
    }
    if (tpduLength >= 0 && r.left() != tpduLength)
        throw Failure{QStringLiteral("%1 octets where the modem said %2").arg(r.left()).arg(tpduLength)};
    if (!r.has(1)) throw Failure{QStringLiteral("no message after the service centre")};
    m.firstOctet = r.take();
    const bool udhi = m.firstOctet & 0x40;
    switch (m.firstOctet & 0x03) {
    case 0: // SMS-DELIVER
        m.type = Type::Deliver;
        m.number = readAddress(r, m.numberType);
        if (!r.has(2)) throw Failure{QStringLiteral("the message is cut short")};
        m.protocolId = r.take();
        m.dataCoding = r.take();
        m.coding = codingOf(m.dataCoding);
        m.timeStamp = readTimeStamp(r);
        readUserData(r, m, udhi);
        break;
    case 1: { // SMS-SUBMIT
        m.type = Type::Submit;
        m.statusReportRequested = m.firstOctet & 0x20;
        if (!r.has(1)) throw Failure{QStringLiteral("the message is cut short")};
        m.reference = r.take();
        m.number = readAddress(r, m.numberType);
        if (!r.has(2)) throw Failure{QStringLiteral("the message is cut short")};
        m.protocolId = r.take();
        m.dataCoding = r.take();
        m.coding = codingOf(m.dataCoding);
        const int vpf = (m.firstOctet >> 3) & 3;
        const int vpOctets = vpf == 0 ? 0 : vpf == 2 ? 1 : 7;
        if (!r.has(vpOctets)) throw Failure{QStringLiteral("the validity period is cut short")};
        r.take(vpOctets);
        readUserData(r, m, udhi);
        break;
    }
    case 2: { // SMS-STATUS-REPORT
        m.type = Type::StatusReport;
        if (!r.has(1)) throw Failure{QStringLiteral("the report is cut short")};
        m.reference = r.take();
        m.number = readAddress(r, m.numberType);
        m.timeStamp = readTimeStamp(r);
        m.dischargeTime = readTimeStamp(r);
        if (!r.has(1)) throw Failure{QStringLiteral("the report has no status")};
        m.status = r.take();
        // Optional: parameter indicator, then what it names.
        if (r.left() > 0) {
            const int pi = r.take();
            if ((pi & 0x01) && r.has(1)) m.protocolId = r.take();
            if ((pi & 0x02) && r.has(1)) m.dataCoding = r.take();
            if ((pi & 0x04) && r.has(1)) {
                m.coding = codingOf(m.dataCoding);
                readUserData(r, m, udhi);
            }
        }
        break;
    }
    default:
        throw Failure{QStringLiteral("an unknown message type")};
    }
    return m;
}

// ---- writing ----------------------------------------------------------------------------

bool isDialDigit(QChar c) {
    return (c >= u'0' && c <= u'9') || c == u'*' || c == u'#';
}

QByteArray packSeptets(const QByteArray& septets, int fillBits) {
    QByteArray out((fillBits + septets.size() * 7 + 7) / 8, '\0');
    for (qsizetype k = 0; k < septets.size(); ++k) {
        const int bit = fillBits + static_cast<int>(k) * 7;
        const int v = septets.at(k) & 0x7F;
        out[bit / 8] = char(static_cast<unsigned char>(out.at(bit / 8)) | (v << (bit % 8)));
        if (bit % 8 > 1)
            out[bit / 8 + 1] =
                char(static_cast<unsigned char>(out.at(bit / 8 + 1)) | (v >> (8 - bit % 8)));
    }
    return out;
}

// The text in parts of at most `limit` units, never cutting an escape pair (GSM) or a
// surrogate pair (UCS2).
QList<QByteArray> cutSeptets(const QByteArray& septets, int limit) {
    QList<QByteArray> parts;
    qsizetype from = 0;
    while (from < septets.size()) {
        qsizetype n = std::min<qsizetype>(limit, septets.size() - from);
        // A part must not end in the escape of a pair: count escapes from the start.
        if (from + n < septets.size()) {
            bool pending = false;
            for (qsizetype k = from; k < from + n; ++k)
                pending = !pending && septets.at(k) == kEsc;
            if (pending) --n;
        }
        parts << septets.mid(from, n);
        from += n;
    }
    return parts;
}

QList<QString> cutUtf16(const QString& text, int limit) {
    QList<QString> parts;
    qsizetype from = 0;
    while (from < text.size()) {
        qsizetype n = std::min<qsizetype>(limit, text.size() - from);
        if (from + n < text.size() && text.at(from + n - 1).isHighSurrogate() &&
            text.at(from + n).isLowSurrogate())
            --n;
        parts << text.mid(from, n);
        from += n;
    }
    return parts;
}

QString toHex(const QByteArray& octets) {
    return QString::fromLatin1(octets.toHex().toUpper());
}

} // namespace

Decoded decode(const QString& hex, int tpduLength) {
    Decoded d;
    try {
        d.message = readPdu(hex, tpduLength);
        d.ok = true;
    } catch (const Failure& f) {
        d.error = f.reason;
    }
    return d;
}

Plan plan(const QString& text) {
    Plan p;
    QByteArray septets;
    if (gsm::toSeptets(text, septets)) {
        p.coding = Coding::Gsm7;
        p.units = static_cast<int>(septets.size());
        p.singleLimit = kSeptetsSingle;
        p.partLimit = kSeptetsPart;
        p.parts = p.units <= kSeptetsSingle
                      ? 1
                      : static_cast<int>(cutSeptets(septets, kSeptetsPart).size());
    } else {
        p.coding = Coding::Ucs2;
        p.units = static_cast<int>(text.size());
        p.singleLimit = kUcs2Single;
        p.partLimit = kUcs2Part;
        p.parts = p.units <= kUcs2Single ? 1 : static_cast<int>(cutUtf16(text, kUcs2Part).size());
    }
    return p;
}

QList<Submit> encodeSubmit(const QString& number, const QString& text, int concatRef,
                           bool statusReport, QString* error) {
    auto refuse = [&](const QString& why) {
        if (error) *error = why;
        return QList<Submit>{};
    };
    const bool international = number.startsWith(u'+');
    const QString digits = international ? number.mid(1) : number;
    if (digits.isEmpty() || digits.size() > kMaxAddressDigits ||
        !std::all_of(digits.begin(), digits.end(), isDialDigit))
        return refuse(QStringLiteral("the number %1 cannot be written in a PDU").arg(number));
    QByteArray address;
    address += char(digits.size());
    address += char(international ? 0x91 : 0x81);
    for (qsizetype k = 0; k < digits.size(); k += 2) {
        auto value = [](QChar c) { return c == u'*' ? 10 : c == u'#' ? 11 : c.unicode() - '0'; };
        const int lo = value(digits.at(k));
        const int hi = k + 1 < digits.size() ? value(digits.at(k + 1)) : 0x0F;
        address += char(hi << 4 | lo);
    }

    // Each part's user data: (header, payload, UDL, text).
    struct Body {
        QByteArray userData;
        int udl;
        QString text;
    };
    QList<Body> bodies;
    QByteArray septets;
    const bool gsm7 = gsm::toSeptets(text, septets);
    const Plan p = plan(text);
    if (p.parts > MaxParts)
        return refuse(QStringLiteral("the text needs %1 parts, more than %2").arg(p.parts).arg(MaxParts));
    const bool concatenated = p.parts > 1;
    auto header = [&](int part) {
        QByteArray h;
        h += char(0x05);
        h += char(0x00);
        h += char(0x03);
        h += char(concatRef & 0xFF);
        h += char(p.parts);
        h += char(part);
        return h;
    };
    if (gsm7) {
        const QList<QByteArray> pieces =
            concatenated ? cutSeptets(septets, kSeptetsPart) : QList<QByteArray>{septets};
        for (qsizetype k = 0; k < pieces.size(); ++k) {
            const QString partText = gsm::fromSeptets(pieces.at(k));
            if (!concatenated) {
                bodies << Body{packSeptets(pieces.at(k), 0), static_cast<int>(pieces.at(k).size()),
                               partText};
                continue;
            }
            // The header's 6 octets are 48 bits: one fill bit brings the text to septet 7.
            QByteArray ud = header(static_cast<int>(k) + 1);
            ud += packSeptets(pieces.at(k), 1);
            bodies << Body{ud, 7 + static_cast<int>(pieces.at(k).size()), partText};
        }
    } else {
        const QList<QString> pieces = concatenated ? cutUtf16(text, kUcs2Part) : QList<QString>{text};
        for (qsizetype k = 0; k < pieces.size(); ++k) {
            QByteArray ud = concatenated ? header(static_cast<int>(k) + 1) : QByteArray();
            for (const QChar c : pieces.at(k)) {
                ud += char(c.unicode() >> 8);
                ud += char(c.unicode() & 0xFF);
            }
            bodies << Body{ud, static_cast<int>(ud.size()), pieces.at(k)};
        }
    }

    QList<Submit> out;
    for (const Body& b : bodies) {
        QByteArray tpdu;
        // SMS-SUBMIT, relative validity period, a header when concatenated.
        tpdu += char(0x01 | 0x10 | (concatenated ? 0x40 : 0) | (statusReport ? 0x20 : 0));
        tpdu += char(0x00); // the modem gives the reference
        tpdu += address;
        tpdu += char(0x00);                 // protocol identifier
        tpdu += char(gsm7 ? 0x00 : 0x08);   // data coding: default alphabet or UCS2
        tpdu += char(0xA7);                 // valid for 24 hours
        tpdu += char(b.udl);
        tpdu += b.userData;
        out << Submit{QStringLiteral("00") + toHex(tpdu), static_cast<int>(tpdu.size()), b.text};
    }
    return out;
}

QString statusWord(const QString& stat) {
    static const char* const words[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};
    bool ok = false;
    const int n = stat.trimmed().toInt(&ok);
    return ok && n >= 0 && n < 4 ? QString::fromLatin1(words[n]) : QString();
}

int statusNumber(const QString& word) {
    const QString w = word.trimmed().toUpper();
    if (w == QLatin1String("ALL")) return 4;
    for (int n = 0; n < 4; ++n) {
        if (statusWord(QString::number(n)) == w) return n;
    }
    return -1;
}

} // namespace pdu
