// SMS PDUs the program writes and reads: published examples, a round trip of random texts
// through the program's own encoder, and PDUs that must be refused.
#include "modem/SmsPdu.h"

#include <QRandomGenerator>
#include <QtTest>

class TestSmsPdu : public QObject {
    Q_OBJECT
private slots:
    void readsPublishedPdus_data();
    void readsPublishedPdus();
    void writesWhatItReadsBack();
    void plansPartsByCoding_data();
    void plansPartsByCoding();
    void refusesBrokenPdus_data();
    void refusesBrokenPdus();
};

void TestSmsPdu::readsPublishedPdus_data() {
    QTest::addColumn<QString>("hex");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("time");
    // The classic SMS-SUBMIT "hellohello" to +46708251358 (7-bit packing example).
    QTest::newRow("submit hellohello")
        << "0011000B916407281553F80000AA0AE8329BFD4697D9EC37" << int(pdu::Type::Submit)
        << "+46708251358"
        << "hellohello" << "";
    // An SMS-DELIVER in UCS2 from an alphanumeric sender, with the centre's time stamp.
    QTest::newRow("deliver ucs2 alphanumeric")
        << "00040BD0C6E7531894020008624021512143000C041F04400438043204350442"
        << int(pdu::Type::Deliver) << "FOOBAR" << QString::fromUtf8("Привет")
        << "26/04/12,15:12:34+00";
    // A 7-bit SMS-DELIVER from a national number.
    QTest::newRow("deliver national")
        << "0004098110325476F800006240215121430005C8329BFD06" << int(pdu::Type::Deliver)
        << "012345678" << "Hello" << "26/04/12,15:12:34+00";
}

void TestSmsPdu::readsPublishedPdus() {
    QFETCH(QString, hex);
    QFETCH(int, type);
    QFETCH(QString, number);
    QFETCH(QString, text);
    QFETCH(QString, time);
    const pdu::Decoded d = pdu::decode(hex);
    QVERIFY2(d.ok, qPrintable(d.error));
    QCOMPARE(int(d.message.type), type);
    QCOMPARE(d.message.number, number);
    QCOMPARE(d.message.text, text);
    QCOMPARE(d.message.timeStamp, time);
}

void TestSmsPdu::writesWhatItReadsBack() {
    // Fixed cases: every extension character, an emoji, a long Cyrillic text (3 parts),
    // a Hindi text, 400 Latin characters with the euro sign; then random texts.
    QStringList texts = {QString::fromUtf8("\f^{}\\[~]|€ and @£$¥"),
                         QString::fromUtf8("smile 😀 ok"),
                         QString::fromUtf8("Длинное сообщение. ").repeated(9),
                         QString::fromUtf8("नमस्ते, आपका ऑर्डर तैयार है।"),
                         QString(399, u'a') + QString::fromUtf8("€"),
                         QString()};
    auto* rng = QRandomGenerator::global();
    const QString pool = QString::fromUtf8("abcXYZ019 @£$¥èéΔΦ_{}[]~€\n\rñüйжनम😀中");
    const QList<uint> ucs4 = pool.toUcs4();
    for (int n = 0; n < 200; ++n) {
        QString t;
        const int len = int(rng->bounded(500));
        for (int i = 0; i < len; ++i) {
            const char32_t c = ucs4.at(int(rng->bounded(ucs4.size())));
            t += QString::fromUcs4(&c, 1);
        }
        texts << t;
    }
    for (const QString& text : texts) {
        const pdu::Plan plan = pdu::plan(text);
        QString error;
        const QList<pdu::Submit> parts = pdu::encodeSubmit(QStringLiteral("+447700900123"), text,
                                                           0x42, false, &error);
        if (plan.parts > pdu::MaxParts) {
            QVERIFY(parts.isEmpty());
            QVERIFY(!error.isEmpty());
            continue;
        }
        QCOMPARE(parts.size(), plan.parts);
        QString joined;
        for (int i = 0; i < parts.size(); ++i) {
            const pdu::Decoded d = pdu::decode(parts[i].hex, parts[i].length);
            QVERIFY2(d.ok, qPrintable(d.error + QStringLiteral(": ") + parts[i].hex));
            QCOMPARE(d.message.type, pdu::Type::Submit);
            QCOMPARE(d.message.number, QStringLiteral("+447700900123"));
            QCOMPARE(d.message.text, parts[i].text);
            QCOMPARE(d.message.concat.parts, parts.size() > 1 ? int(parts.size()) : 0);
            if (parts.size() > 1) {
                QCOMPARE(d.message.concat.part, i + 1);
                QCOMPARE(d.message.concat.ref, 0x42);
            }
            joined += d.message.text;
        }
        QCOMPARE(joined, text);
    }
}

void TestSmsPdu::plansPartsByCoding_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("coding");
    QTest::addColumn<int>("units");
    QTest::addColumn<int>("parts");
    QTest::newRow("160 septets: one") << QString(160, u'a') << int(pdu::Coding::Gsm7) << 160 << 1;
    QTest::newRow("161 septets: two") << QString(161, u'a') << int(pdu::Coding::Gsm7) << 161 << 2;
    QTest::newRow("euro counts two") << QString(159, u'a') + QString::fromUtf8("€")
                                     << int(pdu::Coding::Gsm7) << 161 << 2;
    QTest::newRow("70 UCS2 units: one") << QString(70, u'ж') << int(pdu::Coding::Ucs2) << 70 << 1;
    QTest::newRow("71 UCS2 units: two") << QString(71, u'ж') << int(pdu::Coding::Ucs2) << 71 << 2;
    QTest::newRow("emoji counts two") << QString::fromUtf8("😀") << int(pdu::Coding::Ucs2) << 2
                                      << 1;
    QTest::newRow("1530 septets: ten") << QString(1530, u'a') << int(pdu::Coding::Gsm7) << 1530
                                       << 10;
    QTest::newRow("1531 septets: eleven") << QString(1531, u'a') << int(pdu::Coding::Gsm7) << 1531
                                          << 11;
}

void TestSmsPdu::plansPartsByCoding() {
    QFETCH(QString, text);
    QFETCH(int, coding);
    QFETCH(int, units);
    QFETCH(int, parts);
    const pdu::Plan p = pdu::plan(text);
    QCOMPARE(int(p.coding), coding);
    QCOMPARE(p.units, units);
    QCOMPARE(p.parts, parts);
}

void TestSmsPdu::refusesBrokenPdus_data() {
    QTest::addColumn<QString>("hex");
    QTest::addColumn<int>("length");
    const QString good = QStringLiteral("0011000B916407281553F80000AA0AE8329BFD4697D9EC37");
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("odd digits") << good.chopped(1) << -1;
    QTest::newRow("not hex") << QString(good).replace(10, 2, QStringLiteral("ZZ")) << -1;
    QTest::newRow("length does not match") << good << 30;
    QTest::newRow("user data cut short") << good.chopped(4) << -1;
    QTest::newRow("octets after the user data") << good + QStringLiteral("00") << -1;
    QTest::newRow("address longer than the PDU") << QStringLiteral("001100FF91") << -1;
    QTest::newRow("centre part longer than the PDU") << QStringLiteral("0F91") << -1;
    // A header length pointing past the user data.
    QTest::newRow("truncated header") << QStringLiteral("0051000B916407281553F8000800040A000300")
                                      << -1;
    // Compressed text (data coding 0x20).
    QTest::newRow("compressed") << QStringLiteral("0011000B916407281553F80020AA0AE8329BFD4697D9EC37")
                                << -1;
}

void TestSmsPdu::refusesBrokenPdus() {
    QFETCH(QString, hex);
    QFETCH(int, length);
    const pdu::Decoded d = pdu::decode(hex, length);
    QVERIFY2(!d.ok, qPrintable(d.message.text));
    QVERIFY(!d.error.isEmpty());
}

QTEST_MAIN(TestSmsPdu)
#include "test_sms_pdu.moc"
