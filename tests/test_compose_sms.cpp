// The compose window: cleaning the typed numbers, the rows it queues, what it refuses;
// and keeping a window on top.
#include "compose/frm_ComposeSMS.h"
#include "support/TestEnv.h"
#include "ui/FormTopMost.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QtTest>

namespace {

QueryResult queued(TestEnv& env) {
    return env.ctx().DBConnection.query(
        QStringLiteral("select * from Message_OutBox order by Outbox_Id"));
}

void setCharacterSet(TestEnv& env, const QString& set) {
    env.ctx().DBConnection.execute(
        QStringLiteral("insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,"
                       "StopBits,FlowControl,CharacterSet) values (1,'9600','n','8','1','0',?)"),
        {set});
}

} // namespace

class TestComposeSms : public QObject {
    Q_OBJECT
private slots:
    void queuesOneRowPerEntry_data();
    void queuesOneRowPerEntry();
    void refusesMissingInput_data();
    void refusesMissingInput();
    void refusesEmptyAndNonNumericEntries_data();
    void refusesEmptyAndNonNumericEntries();
    void refusesCharactersTheModemCannotCarry_data();
    void refusesCharactersTheModemCannotCarry();
    void messageBoxTakesAtMost160Characters();
    void failingInsertQueuesNothing();
    void formTopMost();
};

void TestComposeSms::queuesOneRowPerEntry_data() {
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QStringList>("recipients");
    QTest::addColumn<QString>("shown");
    QTest::newRow("one") << "9888812121"
                         << "Hello" << QStringList{"9888812121"} << "9888812121";
    QTest::newRow("semicolon and dots")
        << "9888812121; 98.888.12121"
        << "Hello" << QStringList{"9888812121", "9888812121"} << "9888812121, 98.888.12121";
    QTest::newRow("spaces") << "+44 21 2323 4455"
                            << "Hello" << QStringList{"+442123234455"} << "+44 21 2323 4455";
    QTest::newRow("tab, outer blanks")
        << "  +447700900001 ;22\t  "
        << "x" << QStringList{"+447700900001", "22\t"} << "+447700900001 ,22\t";
    QTest::newRow("quotes and leading spaces kept")
        << "5"
        << "   He said \"hi\", it's 'fine'\nbye  " << QStringList{"5"} << "5";
}

void TestComposeSms::queuesOneRowPerEntry() {
    QFETCH(QString, numbers);
    QFETCH(QString, message);
    QFETCH(QStringList, recipients);
    QFETCH(QString, shown);
    TestEnv env;
    frm_ComposeSMS w(env.ctx());
    QCOMPARE(w.windowTitle(), QStringLiteral("Compose & Send SMS"));
    w.show();
    w.MobileNumbers->setText(numbers);
    w.Message->setPlainText(message);
    w.Command1_Click();

    QVERIFY2(env.messages.isEmpty(), qPrintable(env.messages.join('|')));
    QCOMPARE(w.MobileNumbers->text(), shown);
    QVERIFY(!w.isVisible()); // closed after queueing
    QCOMPARE(w.result(), int(QDialog::Accepted));
    const QueryResult rows = queued(env);
    QCOMPARE(rows.count(), recipients.size());
    const QRegularExpression moment(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)"));
    for (int i = 0; i < rows.count(); ++i) {
        QCOMPARE(rows.value(i, "RecipientMobileNo").toString(), recipients[i]);
        QCOMPARE(rows.value(i, "Message").toString(), message);
        QCOMPARE(rows.value(i, "RecepId").toInt(), 0);
        QVERIFY(moment.match(rows.value(i, "OutBoxDateTime").toString()).hasMatch());
        QVERIFY(rows.value(i, "DeliveryStatus").isNull());
        QVERIFY(rows.value(i, "DeliveryDatetime").isNull());
    }
}

void TestComposeSms::refusesMissingInput_data() {
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QString>("message");
    QTest::newRow("no number") << ""
                               << "Hello";
    QTest::newRow("blank number") << "   "
                                  << "Hello";
    QTest::newRow("no message") << "1;2"
                                << "";
    QTest::newRow("message of spaces") << "1;2"
                                       << "     ";
}

void TestComposeSms::refusesMissingInput() {
    QFETCH(QString, numbers);
    QFETCH(QString, message);
    TestEnv env;
    frm_ComposeSMS w(env.ctx());
    w.show();
    w.MobileNumbers->setText(numbers);
    w.Message->setPlainText(message);
    w.Command1_Click();
    QCOMPARE(env.messages,
             QStringList{QStringLiteral("You must enter the mobile number and the message.")});
    QVERIFY(w.isVisible());
    QCOMPARE(w.MobileNumbers->text(), numbers); // semicolons untouched
    QCOMPARE(queued(env).count(), 0);
}

void TestComposeSms::refusesEmptyAndNonNumericEntries_data() {
    QTest::addColumn<QString>("numbers");
    QTest::addColumn<QStringList>("named"); // what the message must say
    QTest::newRow("blank and words") << "+441234567001, ,hello;"
                                     << QStringList{"2 entries are empty", "\"hello\""};
    QTest::newRow("doubled separators") << "111,,222" << QStringList{"one entry is empty"};
    QTest::newRow("apostrophe and dashes")
        << "O'Brien-1 ;98-76, 12 34" << QStringList{"\"O'Brien-1\", \"98-76\""};
    QTest::newRow("plus sign inside") << "+44+1" << QStringList{"\"+44+1\""};
}

void TestComposeSms::refusesEmptyAndNonNumericEntries() {
    QFETCH(QString, numbers);
    QFETCH(QStringList, named);
    TestEnv env;
    frm_ComposeSMS w(env.ctx());
    w.show();
    w.MobileNumbers->setText(numbers);
    w.Message->setPlainText(QStringLiteral("Hello"));
    w.Command1_Click();
    QCOMPARE(env.messages.size(), 1);
    for (const QString& n : named)
        QVERIFY2(env.messages[0].contains(n), qPrintable(env.messages[0]));
    QVERIFY(env.messages[0].startsWith(QLatin1String("Nothing was queued")));
    QCOMPARE(queued(env).count(), 0);
    QVERIFY(w.isVisible());
    QCOMPARE(w.MobileNumbers->text(), numbers);
}

void TestComposeSms::refusesCharactersTheModemCannotCarry_data() {
    QTest::addColumn<QString>("characterSet");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("refused"); // empty: queued
    QTest::newRow("GSM carries its default alphabet") << "GSM"
                                                      << "Price \u00A310 @ \u00E9\u0394_"
                                                      << "";
    // Text mode would write these as ESC + code, and ESC cancels the message.
    QTest::newRow("GSM refuses its extension table") << "GSM"
                                                     << "Price {10} \u20AC"
                                                     << "{ (U+007B), } (U+007D), \u20AC (U+20AC)";
    QTest::newRow("GSM refuses emoji and cedilla") << "GSM"
                                                   << "Hi \U0001F600 \u015F \U0001F600"
                                                   << "\U0001F600 (U+1F600), \u015F (U+015F)";
    QTest::newRow("ANSI carries accents") << "ANSI"
                                          << "caf\u00E9"
                                          << "";
    QTest::newRow("ANSI refuses euro") << "ANSI"
                                       << "5 \u20AC"
                                       << "\u20AC (U+20AC)";
    QTest::newRow("no settings: ASCII") << ""
                                        << "caf\u00E9"
                                        << "\u00E9 (U+00E9)";
}

void TestComposeSms::refusesCharactersTheModemCannotCarry() {
    QFETCH(QString, characterSet);
    QFETCH(QString, message);
    QFETCH(QString, refused);
    TestEnv env;
    if (!characterSet.isEmpty()) setCharacterSet(env, characterSet);
    frm_ComposeSMS w(env.ctx());
    w.show();
    w.MobileNumbers->setText(QStringLiteral("111;222"));
    w.Message->setPlainText(message);
    w.Command1_Click();
    if (refused.isEmpty()) {
        QVERIFY2(env.messages.isEmpty(), qPrintable(env.messages.join('|')));
        QCOMPARE(queued(env).count(), 2);
        return;
    }
    QCOMPARE(env.messages.size(), 1);
    QVERIFY2(env.messages[0].contains(refused), qPrintable(env.messages[0]));
    QVERIFY(
        env.messages[0].contains(characterSet.isEmpty() ? QStringLiteral("ASCII") : characterSet));
    QCOMPARE(queued(env).count(), 0);
    QVERIFY(w.isVisible());
    QCOMPARE(w.MobileNumbers->text(), QStringLiteral("111;222"));
}

void TestComposeSms::messageBoxTakesAtMost160Characters() {
    TestEnv env;
    frm_ComposeSMS w(env.ctx());
    w.Message->setPlainText(QString(170, QLatin1Char('a')));
    QCOMPARE(w.Message->toPlainText(), QString(160, QLatin1Char('a')));
    // The limit counts characters of the modem's set, not UTF-16 code units: a character
    // made of two is one, and is never cut in half.
    w.Message->setPlainText(QString(159, QLatin1Char('b')) + QStringLiteral("\U0001F600"));
    QCOMPARE(w.Message->toPlainText(), QString(159, QLatin1Char('b')) + QStringLiteral("\U0001F600"));
    w.Message->setPlainText(QString(160, QLatin1Char('b')) + QStringLiteral("\U0001F600"));
    QCOMPARE(w.Message->toPlainText(), QString(160, QLatin1Char('b')));
    QCOMPARE(w.lblCount->text().left(21), QStringLiteral("160 of 160 characters"));
}

void TestComposeSms::failingInsertQueuesNothing() {
    TestEnv env;
    env.ctx().DBConnection.execute(QStringLiteral(
        "create trigger refuse before insert on Message_OutBox when NEW.RecipientMobileNo='222' "
        "begin select raise(abort, 'database or disk is full'); end"));
    frm_ComposeSMS w(env.ctx());
    w.show();
    w.MobileNumbers->setText(QStringLiteral("111,222,333"));
    w.Message->setPlainText(QStringLiteral("Hello"));
    w.Command1_Click();
    QCOMPARE(env.messages, QStringList{QStringLiteral("database or disk is full")});
    QCOMPARE(queued(env).count(), 0); // not even the first number
    QVERIFY(w.isVisible());
}

void TestComposeSms::formTopMost() {
    QWidget w;
    w.setGeometry(120, 80, 300, 200);
    ui::SetFormTopMost(&w, true);
    QVERIFY(w.isVisible());
    QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(w.geometry(), QRect(120, 80, 300, 200));
    QVERIFY(!w.testAttribute(Qt::WA_ShowWithoutActivating));
    ui::SetFormTopMost(&w, false);
    QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(w.geometry(), QRect(120, 80, 300, 200));
    QVERIFY(w.isVisible());
}

QTEST_MAIN(TestComposeSms)
#include "test_compose_sms.moc"
