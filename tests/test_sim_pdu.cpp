// The simulated modem's SMS PDU codec, against published PDUs and PDUs built by hand
// from the message formats: decoding, encoding back, and refusing malformed ones.

#include "Charset.h"
#include "Pdu.h"

#include <QtTest>

namespace {

std::string utf8(const QString& s) {
    return s.toStdString();
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

struct Known {
    const char* name;
    const char* hex;
    int length;
    bool deliver;
    QString number;
    int toa;
    sim::Coding coding;
    QString text;
    sim::Concat concat;
    const char* smsc;
    const char* scts;
};

const QString ConcatFirst = QString(153, QLatin1Char('A'));

// "hellohello" both ways is the classic published pair; the rest were built from the
// message formats and checked bit by bit.
const Known KnownPdus[] = {
    {"7-bit hellohello, submit",
     "0011000B916407281553F80000AA0AE8329BFD4697D9EC37",
     23,
     false,
     QStringLiteral("+46708251358"),
     0x91,
     sim::Coding::Gsm7,
     QStringLiteral("hellohello"),
     {},
     "",
     ""},
    {"7-bit hellohello, deliver with SMSC",
     "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37",
     28,
     true,
     QStringLiteral("27838890001"),
     0xC8,
     sim::Coding::Gsm7,
     QStringLiteral("hellohello"),
     {},
     "+27381000015",
     "99/03/29,15:16:59+08"},
    {"extension characters",
     "0011000C914477000910320000AA1A1BD486B7296F7C9BD4A607AA6DCAA0F00628DE50C69B17",
     37,
     false,
     QStringLiteral("+447700900123"),
     0x91,
     sim::Coding::Gsm7,
     QStringLiteral("{[\u20ac]}~ 5\u20ac a|b^c\\"),
     {},
     "",
     ""},
    {"UCS2",
     "0011000C911989214365870008AA18041F04400438043204350442002C0020043C043804400021",
     38,
     false,
     QStringLiteral("+919812345678"),
     0x91,
     sim::Coding::Ucs2,
     QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440!"),
     {},
     "",
     ""},
    {"concatenated, part 2 of 2",
     "0051000C914477000910320000AA0E050003CC0202E8E832A8EC2603",
     27,
     false,
     QStringLiteral("+447700900123"),
     0x91,
     sim::Coding::Gsm7,
     QStringLiteral("the end"),
     {0xCC, 2, 2},
     "",
     ""},
    {"concatenated, part 1 of 2",
     "0051000C914477000910320000AAA0050003CC020182C16030180C0683C16030180C0683C16030180C0683C16030"
     "180C0683C16030180C0683C16030180C0683C16030180C0683C16030180C0683C16030180C0683C16030180C0683"
     "C16030180C0683C16030180C0683C16030180C0683C16030180C0683C16030180C0683C16030180C0683C16030180"
     "C0683C16030180C0683C16030180C0683",
     154,
     false,
     QStringLiteral("+447700900123"),
     0x91,
     sim::Coding::Gsm7,
     ConcatFirst,
     {0xCC, 2, 1},
     "",
     ""},
    {"national number",
     "0011000A8180214365870000AA08C834888E2ECBCB",
     20,
     false,
     QStringLiteral("0812345678"),
     0x81,
     sim::Coding::Gsm7,
     QStringLiteral("Hi there"),
     {},
     "",
     ""},
    {"alphanumeric sender",
     "000410D0D6664B18742E934E00006221803105154010D9775D0E7A52A1A0F41C44BBC562",
     35,
     true,
     QStringLiteral("VM-BANKIN"),
     0xD0,
     sim::Coding::Gsm7,
     QStringLiteral("Your OTP is 4711"),
     {},
     "",
     "26/12/08,13:50:51+04"},
};

} // namespace

class TestSimPdu : public QObject {
    Q_OBJECT

private slots:
    void decodesKnownPdus() {
        for (const Known& k : KnownPdus) {
            sim::Tpdu t;
            std::string error;
            QVERIFY2(sim::parsePdu(k.hex, k.length, t, error), (k.name + (": " + error)).c_str());
            QVERIFY2(t.deliver == k.deliver, k.name);
            QCOMPARE(q(t.number), k.number);
            QCOMPARE(t.toa, k.toa);
            QVERIFY2(t.coding == k.coding, k.name);
            QCOMPARE(q(t.text), k.text);
            QCOMPARE(t.concat.ref, k.concat.ref);
            QCOMPARE(t.concat.parts, k.concat.parts);
            QCOMPARE(t.concat.part, k.concat.part);
            QCOMPARE(t.smsc, std::string(k.smsc));
            QCOMPARE(t.scts, std::string(k.scts));
        }
        // Lower-case hex, an 8-bit body and a 16-bit concatenation reference.
        sim::Tpdu t;
        std::string error;
        QVERIFY2(sim::parsePdu("004100038121f300040906080401020302ff41", 18, t, error),
                 error.c_str());
        QVERIFY(t.coding == sim::Coding::Bit8);
        QCOMPARE(q(t.text), QStringLiteral("\u00ffA"));
        QCOMPARE(t.concat.ref, 0x0102);
        QCOMPARE(t.concat.parts, 3);
        QCOMPARE(t.concat.part, 2);
        QCOMPARE(t.number, std::string("123"));
    }

    void encodesTheSamePdus() {
        for (const Known& k : KnownPdus) {
            if (k.toa == 0xC8) continue; // a numbering plan the modem never writes
            const sim::EncodedPdu e =
                k.deliver
                    ? sim::encodeDeliver(k.smsc, utf8(k.number), utf8(k.text), k.scts, k.concat)
                    : sim::encodeSubmit(k.smsc, utf8(k.number), utf8(k.text), k.concat, 0, 0xAA);
            QCOMPARE(QString::fromStdString(e.hex), QString::fromLatin1(k.hex));
            QCOMPARE(e.length, k.length);
        }
        // What does not fit is cut at a whole character.
        const sim::EncodedPdu e = sim::encodeDeliver(
            "+10000000000", "+1", std::string(80, 'x') + utf8(QString(50, QChar(0x20ac))),
            "26/01/01,00:00:00+00");
        sim::Tpdu t;
        std::string error;
        QVERIFY2(sim::parsePdu(e.hex, e.length, t, error), error.c_str());
        QCOMPARE(q(t.text), QString(80, QLatin1Char('x')) + QString(40, QChar(0x20ac)));
        QCOMPARE(t.smsc, std::string("+10000000000"));
    }

    void refusesMalformedPdus() {
        const struct {
            const char* hex;
            int length;
        } bad[] = {
            {"0011000B916407281553F80000AA0AE8329BFD4697D9EC3", 23},    // odd hex length
            {"0011000B916407281553F80000AA0AE8329BFD4697D9EC3Z", 23},   // not hex
            {"0011000B916407281553F80000AA0AE8329BFD4697D9EC37", 22},   // length too short
            {"0011000B916407281553F80000AA0AE8329BFD4697D9EC37", 30},   // length too long
            {"0011001B916407281553F80000AA0AE8329BFD4697D9EC37", 23},   // 27 digits, truncated
            {"0011000B116407281553F80000AA0AE8329BFD4697D9EC37", 23},   // type without bit 8
            {"0011000B91640728F553F80000AA0AE8329BFD4697D9EC37", 23},   // filler inside digits
            {"0011000B916407281553F80000AA0BE8329BFD4697D9EC37", 23},   // user data truncated
            {"0011000B916407281553F80000AA0AE8329BFD4697D9EC3700", 24}, // octets after it
            {"0011000B916407281553F80000AAA1E8329BFD4697D9EC37", 23},   // 161 septets
            {"0011000B916407281553F80008AA03004100", 18},               // odd UCS2 octets
            {"0051000B916407281553F80000AA0A09E8329BFD4697D9EC37", 24}, // header past the data
            {"0013000B916407281553F80000AA0AE8329BFD4697D9EC37", 23},   // reserved type
            {"0011000B916407281553F80020AA0AE8329BFD4697D9EC37", 23},   // compressed
            {"0D11000B916407281553F80000AA0AE8329BFD4697D9EC37", 10},   // SMSC part too long
            {"11000B916407281553F80000AA0AE8329BFD4697D9EC37", 23},     // no SMSC part
            {"", 1},
        };
        for (const auto& b : bad) {
            sim::Tpdu t;
            std::string error;
            QVERIFY2(!sim::parsePdu(b.hex, b.length, t, error), b.hex);
            QVERIFY(!error.empty());
        }
    }

    void arbitraryBytesNeverReadOutside() {
        // Every known PDU with each octet changed, and random ones: decoding either
        // succeeds or refuses; it never reads past the PDU (the sanitizer build checks).
        QRandomGenerator rng(20260214);
        int refused = 0;
        for (const Known& k : KnownPdus) {
            std::string octets;
            QVERIFY(sim::fromHex(k.hex, octets));
            for (size_t i = 0; i < octets.size(); ++i) {
                for (int round = 0; round < 8; ++round) {
                    std::string m = octets;
                    m[i] = static_cast<char>(rng.bounded(256));
                    sim::Tpdu t;
                    std::string error;
                    if (!sim::parsePdu(sim::toHex(m), k.length, t, error)) ++refused;
                }
            }
        }
        for (int round = 0; round < 5000; ++round) {
            std::string m(rng.bounded(60), '\0');
            for (auto& c : m)
                c = static_cast<char>(rng.bounded(256));
            sim::Tpdu t;
            std::string error;
            if (!sim::parsePdu(sim::toHex(m), static_cast<int>(rng.bounded(70)), t, error))
                ++refused;
        }
        QVERIFY(refused > 0);
    }

    void statusReportsAndConcatenatedParts() {
        // SMS-STATUS-REPORT built from the message format: first octet 06, reference 2A,
        // recipient, the centre's time stamp, the discharge time, TP-Status.
        const struct {
            int st;
            const char* hex;
        } reports[] = {
            {0x00, "07910100000000F0062A0C91447700091032621080010000006210800100500000"},
            {0x45, "07910100000000F0062A0C91447700091032621080010000006210800100500045"},
        };
        for (const auto& r : reports) {
            const sim::EncodedPdu e =
                sim::encodeStatusReport("+10000000000", 0x2A, "+447700900123",
                                        "26/01/08,10:00:00+00", "26/01/08,10:00:05+00", r.st);
            QCOMPARE(QString::fromStdString(e.hex), QString::fromLatin1(r.hex));
            QCOMPARE(e.length, 25);
            sim::Tpdu t;
            std::string error;
            QVERIFY2(sim::parsePdu(r.hex, 25, t, error), error.c_str());
            QVERIFY(t.statusReport && !t.deliver);
            QCOMPARE(t.mr, 0x2A);
            QCOMPARE(t.number, std::string("+447700900123"));
            QCOMPARE(t.scts, std::string("26/01/08,10:00:00+00"));
            QCOMPARE(t.dt, std::string("26/01/08,10:00:05+00"));
            QCOMPARE(t.st, r.st);
        }
        // A UCS2 part with an emoji: TP-UDHI, header 05 00 03 ref parts part, then the
        // UTF-16 units; a GSM 7-bit part's text starts after one fill bit ("A" << 1).
        sim::EncodedPdu e = sim::encodeDeliver("", "+1", "\xf0\x9f\x98\x80\xd0\x96",
                                               "26/01/08,10:00:00+00", {7, 2, 1});
        QCOMPARE(QString::fromStdString(e.hex),
                 QStringLiteral("00440191F10008621080010000000C050003070201D83DDE000416"));
        e = sim::encodeSubmit("", "+1", "AB", {7, 2, 2});
        QCOMPARE(QString::fromStdString(e.hex),
                 QStringLiteral("0051000191F10000A7090500030702028242"));
    }

    void septetsAndParts() {
        // Packing and unpacking agree at every fill offset; eight septets take seven octets.
        std::string septets;
        for (int c = 0; c < 128; ++c)
            septets += static_cast<char>(c);
        for (int fill = 0; fill < 7; ++fill)
            QCOMPARE(sim::unpackSeptets(sim::packSeptets(septets, fill), 128, fill), septets);
        QCOMPARE(sim::packSeptets(std::string(8, '\x7f')).size(), size_t(7));

        // 153 septets a part; an extension character is never cut in two; UCS2: 67.
        QCOMPARE(sim::splitForConcat(std::string(160, 'a')).size(), size_t(1));
        auto parts =
            sim::splitForConcat(std::string(152, 'a') + "\xe2\x82\xac" + std::string(10, 'b'));
        QCOMPARE(parts.size(), size_t(2));
        QCOMPARE(parts[0], std::string(152, 'a'));
        QCOMPARE(parts[1], std::string("\xe2\x82\xac") + std::string(10, 'b'));
        parts = sim::splitForConcat(utf8(QString(140, QChar(0x0416))));
        QCOMPARE(parts.size(), size_t(3));
        QCOMPARE(q(parts[2]), QString(6, QChar(0x0416)));
    }
};

QTEST_MAIN(TestSimPdu)
#include "test_sim_pdu.moc"
