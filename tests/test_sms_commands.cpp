// The SMS commands and the call-state query against a scripted serial control.

#include "modem/CallState.h"
#include "modem/Module1.h"
#include "modem/SmsCommands.h"
#include "modem/SmsText.h"
#include "support/ScriptedSerialPort.h"

#include <QtTest>

namespace {
const QString kOkAnswer = QStringLiteral("\r\nOK\r\n");
const QString kErrorAnswer = QStringLiteral("\r\nERROR\r\n");
const QString kCtrlZ = QString(QChar(26));
const QString kPrompt = QStringLiteral("\r\n> ");
const QString kSent = QStringLiteral("\r\n+CMGS: 17\r\n\r\nOK\r\n");

// The listing answer of a modem with echo off for the given entries and texts.
QString listing(const QStringList& entries) {
    QString s = QStringLiteral("\r\n");
    for (const QString& e : entries)
        s += QStringLiteral("+CMGL: ") + e;
    return s + kOkAnswer;
}
} // namespace

class TestSmsCommands : public QObject {
    Q_OBJECT

private slots:
    void callStateWords_data();
    void callStateWords();
    void callStateOtherAnswers();

    void emptySimListsNothing();
    void listingKeepsTextsAndUnquotesFields();
    void listingEndsEveryTextAtItsLineEnd();
    void listingSkippedDuringACall();
    void failedListingKeepsTheOldArrays();
    void malformedAndLargeListings();
    void deleteListedAndSingleMessages();

    void directSendCutsParts();
    void directSendTurnsCrLfIntoLf();
    void directSendWithoutPrompt();
    void directSendLatePromptNeverCarriesTheNextCommand();
    void directSendNeedsTheConfirmation();
    void directSendRefusals();
    void textsTheModemCannotCarryAreNeverWritten();
    void gsmTextsNeverHoldAnEscape();

    void storeMessageReadsTheIndex();
    void viaSimDeletesTheStoredCopy();
    void viaSimDeletesAFailedCopy();
    void viaSimWithAFullSim();
};

void TestSmsCommands::callStateWords_data() {
    QTest::addColumn<QString>("state");
    QTest::addColumn<QString>("word");
    const char* words[] = {"Active", "Held", "Dialing", "Alerting", "Incoming", "Waiting"};
    for (int i = 0; i < 6; ++i)
        QTest::newRow(words[i]) << QString::number(i) << QString::fromLatin1(words[i]);
}

void TestSmsCommands::callStateWords() {
    QFETCH(QString, state);
    QFETCH(QString, word);
    ModemBench b;
    const QString answer = QStringLiteral("\r\n+CLCC: 1,1,") + state +
                           QStringLiteral(",0,0,\"+15550100\",145\r\n\r\nOK\r\n");
    b.port().answer(answer);
    QCOMPARE(GetCallState(b.ctx(), b.port()).toString(), word);
    QCOMPARE(b.port().written, QStringList{QStringLiteral("AT+CLCC\r")});
    QCOMPARE(b.sleeps, QList<int>{120});
    QCOMPARE(b.modem().LastResponse.toString(), answer);
}

void TestSmsCommands::callStateOtherAnswers() {
    ModemBench b;
    // Only the first call line counts.
    b.port().answer(QStringLiteral(
        "\r\n+CLCC: 1,1,1,0,0,\"111\",129\r\n+CLCC: 2,1,5,0,0,\"222\",129\r\n\r\nOK\r\n"));
    QCOMPARE(GetCallState(b.ctx(), b.port()).toString(), QStringLiteral("Held"));
    // No call: the answer as it came.
    b.port().answer(kOkAnswer);
    QCOMPARE(GetCallState(b.ctx(), b.port()).toString(), kOkAnswer);
    // A state field with blanks, or too few fields: Empty.
    b.port().answer(QStringLiteral("\r\n+CLCC: 1,1, 4 ,0,0\r\n\r\nOK\r\n"));
    QVERIFY(!GetCallState(b.ctx(), b.port()).isValid());
    b.port().answer(QStringLiteral("\r\n+CLCC: 1,1\r\n\r\nOK\r\n"));
    QVERIFY(!GetCallState(b.ctx(), b.port()).isValid());
    QVERIFY(b.messages().isEmpty());
    // A modem without AT+CLCC.
    b.port().answer(kErrorAnswer);
    QCOMPARE(GetCallState(b.ctx(), b.port()).toString(), QStringLiteral("ERROR"));
    QVERIFY(!b.modem().CommandSucceeded);
    QCOMPARE(b.sleeps.size(), 4 + 4); // four quick answers, then one plus three ERROR reads
    QVERIFY(b.messages().isEmpty());
}

void TestSmsCommands::emptySimListsNothing() {
    ModemBench b;
    b.modem().SimMessageCount = 3;
    b.modem().SimMessageText = QStringList{"a", "b", "c", ""};
    b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
    b.port().answer(kOkAnswer, QStringLiteral("AT+CMGL"));
    ListMessages(b.ctx(), b.port(), QStringLiteral("rec unread"), 400);
    QCOMPARE(b.port().written, (QStringList{"AT+CLCC\r", "AT+CMGL=\"REC UNREAD\"\r\n"}));
    QCOMPARE(b.sleeps, (QList<int>{120, 400}));
    QCOMPARE(b.modem().SimMessageCount, 0);
    QCOMPARE(b.modem().SimMessageText, QStringList{QString()});
    QCOMPARE(b.modem().SimMessageIndex, QStringList{QString()});
    QVERIFY(!b.modem().ListingInProgress);
    QVERIFY(!b.modem().ModemBusy);
}

void TestSmsCommands::listingKeepsTextsAndUnquotesFields() {
    ModemBench b;
    b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
    b.port().answer(
        listing({QStringLiteral("1,\"REC UNREAD\",\"+15551234\",,\"24/01/02,10:11:12+04\"\r\n"
                                "Hello\r\nthere\r\n"),
                 QStringLiteral("3,\"STO SENT\",\"5559\",\"Bob\",\"24/01/03,09:00:00+04\"\r\n"
                                "Bye, then\r\n")}),
        QStringLiteral("AT+CMGL"));
    bool listingSeen = false;
    connect(&b.port(), &SerialPort::dataReceived, &b.port(),
            [&] { listingSeen = listingSeen || b.modem().ListingInProgress; });
    b.port().setRThreshold(1);
    ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 400);
    const ModemState& m = b.modem();
    QVERIFY(listingSeen);
    QCOMPARE(m.SimMessageCount, 2);
    QCOMPARE(m.SimMessageIndex, (QStringList{"1", "3", ""}));
    QCOMPARE(m.SimMessageStatus, (QStringList{"REC UNREAD", "STO SENT", ""}));
    QCOMPARE(m.SimMessageNumber, (QStringList{"+15551234", "5559", ""}));
    QCOMPARE(m.SimMessageText, (QStringList{"Hello\r\nthere", "Bye, then", ""}));
    QVERIFY(!m.ListingInProgress);
}

void TestSmsCommands::listingEndsEveryTextAtItsLineEnd() {
    // The same message gives the same text whether it is listed last or not, and
    // whether or not the modem puts a blank line before the final OK.
    const QString entry =
        QStringLiteral("7,\"REC READ\",\"555\",,\"24/01/02,10:11:12+04\"\r\nSee you\r\n");
    const QString other =
        QStringLiteral("8,\"REC READ\",\"556\",,\"24/01/02,10:11:13+04\"\r\nx\r\n");
    const QStringList answers{listing({entry, other}), listing({other, entry}),
                              QStringLiteral("\r\n+CMGL: ") + entry + QStringLiteral("OK\r\n")};
    for (const QString& answer : answers) {
        ModemBench b;
        b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
        b.port().answer(answer, QStringLiteral("AT+CMGL"));
        ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 10);
        const qsizetype at = b.modem().SimMessageIndex.indexOf(QStringLiteral("7"));
        QVERIFY(at >= 0);
        QCOMPARE(b.modem().SimMessageText.at(at), QStringLiteral("See you"));
    }
}

void TestSmsCommands::listingSkippedDuringACall() {
    ModemBench b;
    b.modem().SimMessageCount = 1;
    b.modem().SimMessageText = QStringList{"kept", ""};
    b.port().answer(QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"555\",129\r\n\r\nOK\r\n"));
    ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 400);
    QCOMPARE(b.port().written, QStringList{QStringLiteral("AT+CLCC\r")});
    QCOMPARE(b.modem().SimMessageCount, 0);
    QCOMPARE(b.modem().SimMessageText, (QStringList{"kept", ""}));
    QVERIFY(b.modem().ModemBusy); // held until the next exchange or ClosePort
    QVERIFY(!b.modem().ListingInProgress);

    // Not connected: skipped without a listing command either.
    ModemBench c;
    c.port().answer(kOkAnswer);
    c.modem().ModemConnected = false;
    ListMessages(c.ctx(), c.port(), QStringLiteral("ALL"), 400);
    QVERIFY(c.port().written.isEmpty());
    QCOMPARE(c.modem().SimMessageCount, 0);
}

void TestSmsCommands::failedListingKeepsTheOldArrays() {
    ModemBench b;
    b.modem().SimMessageCount = 1;
    b.modem().SimMessageIndex = QStringList{"4", ""};
    b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
    b.port().answer(kErrorAnswer, QStringLiteral("AT+CMGL"));
    ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 400);
    QCOMPARE(b.modem().SimMessageCount, 0);
    QCOMPARE(b.modem().SimMessageIndex, (QStringList{"4", ""}));
    QVERIFY(b.messages().isEmpty());
}

void TestSmsCommands::malformedAndLargeListings() {
    // Lines that only look like entries (no index, no status) start none; NULs stay text.
    {
        ModemBench b;
        b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
        b.port().answer(QStringLiteral("\r\n+CMGL: +CMGL: \r\nno header\r\n+CMGL: 5\r\n+CMGL: 6,"
                                       "\"REC READ\",\"1\"\r\nA") +
                            QChar(0) + QStringLiteral("B\r\n\r\nOK\r\n"),
                        QStringLiteral("AT+CMGL"));
        ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 10);
        const ModemState& m = b.modem();
        QCOMPARE(m.SimMessageCount, 1);
        QCOMPARE(m.SimMessageIndex, (QStringList{"6", ""}));
        QCOMPARE(m.SimMessageText.at(0), QStringLiteral("A") + QChar(0) + QStringLiteral("B"));
    }
    // A line cut off half-way and never finished: the listing fails, nothing hangs.
    {
        ModemBench b;
        b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
        b.port().answer(QStringLiteral("\r\n+CMGL: 1,\"REC UNR"), QStringLiteral("AT+CMGL"));
        ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 10);
        QCOMPARE(b.modem().SimMessageCount, 0);
        QVERIFY(!b.modem().ModemBusy);
        QVERIFY(!b.modem().ListingInProgress);
    }
    // A thousand entries.
    {
        ModemBench b;
        QStringList entries;
        for (int i = 1; i <= 1000; ++i)
            entries << QStringLiteral(
                           "%1,\"REC READ\",\"+1555%1\",,\"24/01/02,10:11:12+04\"\r\nText %1\r\n")
                           .arg(i);
        b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
        b.port().answer(listing(entries), QStringLiteral("AT+CMGL"));
        ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 10);
        QCOMPARE(b.modem().SimMessageCount, 1000);
        QCOMPARE(b.modem().SimMessageText.size(), 1001);
        QCOMPARE(b.modem().SimMessageText.at(999), QStringLiteral("Text 1000"));
        QCOMPARE(b.modem().SimMessageNumber.at(0), QStringLiteral("+15551"));
    }
}

void TestSmsCommands::deleteListedAndSingleMessages() {
    ModemBench b;
    b.port().answer(kOkAnswer, QStringLiteral("AT+CLCC"));
    b.port().answer(listing({QStringLiteral("2,\"STO SENT\",\"1\",,\r\nx\r\n"),
                             QStringLiteral("7,\"STO SENT\",\"2\",,\r\ny\r\n")}),
                    QStringLiteral("AT+CMGL"));
    b.port().answer(kErrorAnswer, QStringLiteral("AT+CMGD=2"));
    b.port().answer(kOkAnswer, QStringLiteral("AT+CMGD=7"));
    DeleteListedMessages(b.ctx(), b.port(), QStringLiteral("sto sent"));
    QCOMPARE(b.port().written,
             (QStringList{"AT+CLCC\r", "AT+CMGL=\"STO SENT\"\r\n", "AT+CMGD=2\r", "AT+CMGD=7\r"}));
    QCOMPARE(b.sleeps, (QList<int>{120, 200, 100, 100, 100, 100, 100}));
    QCOMPARE(b.messages(),
             QStringList{QStringLiteral("Error occured while executing this command: AT+CMGD=2")});
    QVERIFY(b.port().unmatched.isEmpty());

    b.sleeps.clear();
    b.port().answer(kOkAnswer, QStringLiteral("AT+CMGD=4\r"));
    QCOMPARE(DeleteMessage(b.ctx(), b.port(), 4).toString(), kOkAnswer);
    QCOMPARE(b.modem().LastResponse.toString(), kOkAnswer);
    QCOMPARE(b.sleeps, QList<int>{150});

    // A skipped listing deletes nothing.
    ModemBench c;
    c.port().answer(QStringLiteral("\r\n+CLCC: 1,0,0,0,0\r\n\r\nOK\r\n"));
    DeleteListedMessages(c.ctx(), c.port(), QStringLiteral("ALL"));
    QCOMPARE(c.port().written.size(), 1);
}

void TestSmsCommands::directSendCutsParts() {
    ModemBench b;
    QString text = QString(160, u'a') + QStringLiteral("b");
    for (int i = 0; i < 2; ++i) {
        b.port().answer(kPrompt, QStringLiteral("AT+CMGS"));
        b.port().answer(kSent);
    }
    const QVariant r = SendMessageDirect(b.ctx(), b.port(), QStringLiteral("+15550100"), text);
    QCOMPARE(r.toString(), kSent);
    QCOMPARE(b.port().written, (QStringList{"AT+CMGS=\"+15550100\"\r", QString(160, u'a') + kCtrlZ,
                                            "AT+CMGS=\"+15550100\"\r", "b" + kCtrlZ}));
    QCOMPARE(b.sleeps, (QList<int>{20, 250, 20, 250}));
    QCOMPARE(b.log().count(QStringLiteral("Response for AT+CMGS=\"+15550100\" is '>'")), 2);
    QVERIFY(!b.ctx().engine.SendingInProgress);

    ModemBench c;
    QString exact(160, u'z');
    c.port().answer(kPrompt);
    c.port().answer(kSent);
    QCOMPARE(SendMessageDirect(c.ctx(), c.port(), QStringLiteral("1"), exact).toString(), kSent);
    QCOMPARE(c.port().written.size(), 2);

    // An empty message goes out as an empty SMS.
    ModemBench d;
    d.port().answer(kPrompt);
    d.port().answer(kSent);
    QString empty;
    QCOMPARE(SendMessageDirect(d.ctx(), d.port(), QStringLiteral("1"), empty).toString(), kSent);
    QCOMPARE(d.port().written, (QStringList{"AT+CMGS=\"1\"\r", kCtrlZ}));
}

void TestSmsCommands::directSendTurnsCrLfIntoLf() {
    ModemBench b;
    b.port().answer(kPrompt);
    b.port().answer(kSent);
    QString text = QStringLiteral("line one\r\nline two\rthree");
    SendMessageDirect(b.ctx(), b.port(), QStringLiteral("555"), text);
    QCOMPARE(text, QStringLiteral("line one\nline two\rthree"));
    // No CR reaches the modem inside a text: it could end a command line.
    QCOMPARE(b.port().written.value(1), QStringLiteral("line one\nline two\nthree") + kCtrlZ);
}

void TestSmsCommands::directSendWithoutPrompt() {
    // Silence: after the eleven empty reads the modem is told to leave text entry (ESC),
    // in case the prompt is only late.
    ModemBench b;
    b.port().stayQuiet(QStringLiteral("AT+CMGS"));
    QString text = QStringLiteral("hello");
    QCOMPARE(SendMessageDirect(b.ctx(), b.port(), QStringLiteral("555"), text).toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(b.port().written, (QStringList{"AT+CMGS=\"555\"\r", QString(QChar(27))}));
    QCOMPARE(b.sleeps.size(), 12); // the first read and eleven empty ones
    QVERIFY(b.log().contains(QStringLiteral("Response for AT+CMGS=\"555\" is ''")));
    QVERIFY(b.modem().LastSendFailure.contains(QStringLiteral("prompt")));
    QVERIFY(!b.ctx().engine.SendingInProgress);

    // A refused command: no text follows (the ESC after it changes nothing in command mode).
    ModemBench c;
    c.port().answer(kErrorAnswer);
    QCOMPARE(SendMessageDirect(c.ctx(), c.port(), QStringLiteral("555"), text).toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(c.port().written, (QStringList{"AT+CMGS=\"555\"\r", QString(QChar(27))}));
}

void TestSmsCommands::directSendLatePromptNeverCarriesTheNextCommand() {
    // The prompt comes after the exchange gave up: the next command goes out only once
    // the line is quiet, never into a message text, and its own prompt is awaited.
    ModemBench b;
    b.port().answerAfterPolls(kPrompt, 15, QStringLiteral("AT+CMGS=\"111\""));
    QString first = QStringLiteral("for 111");
    QCOMPARE(SendMessageDirect(b.ctx(), b.port(), QStringLiteral("111"), first).toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(b.port().written.last(), QString(QChar(27)));

    b.port().answer(kPrompt, QStringLiteral("AT+CMGS=\"222\""));
    b.port().answer(kSent, QStringLiteral("for 222"));
    QString second = QStringLiteral("for 222");
    QCOMPARE(SendMessageDirect(b.ctx(), b.port(), QStringLiteral("222"), second).toString(), kSent);
    QCOMPARE(b.port().written, (QStringList{"AT+CMGS=\"111\"\r", QString(QChar(27)),
                                            "AT+CMGS=\"222\"\r", "for 222" + kCtrlZ}));
}

void TestSmsCommands::directSendNeedsTheConfirmation() {
    QString text = QStringLiteral("hi");
    struct Case {
        const char* name;
        QStringList pieces; // after the prompt
        bool sent;
    };
    const Case cases[] = {
        {"confirmed", {QStringLiteral("\r\n+CMGS: 17\r\n\r\nOK\r\n")}, true},
        {"OK alone", {kOkAnswer}, false},
        {"confirmation without OK", {QStringLiteral("\r\n+CMGS: 17\r\n")}, false},
        {"silence", {}, false},
        {"rejected", {QStringLiteral("\r\n+CMS ERROR: 38\r\n")}, false},
        {"final line split",
         {QStringLiteral("\r\n+CMGS: 3\r\n\r\nOK\r"), QStringLiteral("\n")},
         true},
    };
    for (const Case& c : cases) {
        ModemBench b;
        b.modem().ConfirmWaitMs = 5000;
        b.port().answer(kPrompt);
        if (c.pieces.isEmpty())
            b.port().stayQuiet();
        else
            b.port().answerInPieces(c.pieces);
        const QString r =
            SendMessageDirect(b.ctx(), b.port(), QStringLiteral("555"), text).toString();
        QVERIFY2(r.contains(QLatin1String("ERROR")) != c.sent, c.name);
        QVERIFY2(c.sent || !b.modem().LastSendFailure.isEmpty(), c.name);
        QVERIFY(!b.modem().ModemBusy);
    }

    // A confirmation that takes the network half a minute still counts, and the wait
    // lets the window's events run.
    ModemBench late;
    late.port().answer(kPrompt);
    late.port().answerAfterPolls(kSent, 200);
    QCOMPARE(SendMessageDirect(late.ctx(), late.port(), QStringLiteral("555"), text).toString(),
             kSent);
    QVERIFY(!late.waits.isEmpty());

    // The port vanishes while the confirmation is awaited: not sent.
    ModemBench lost;
    lost.port().answer(kPrompt);
    lost.port().stayQuiet();
    connect(&lost.port(), &SerialPort::dataReceived, &lost.port(), [] {});
    QTimer::singleShot(0, &lost.port(), [&lost] { lost.port().vanish(); });
    QVERIFY(SendMessageDirect(lost.ctx(), lost.port(), QStringLiteral("555"), text)
                .toString()
                .contains(QLatin1String("ERROR")));
    QVERIFY(lost.modem().LastSendFailure.contains(QLatin1String("port")));
}

void TestSmsCommands::directSendRefusals() {
    // A busy modem or a dropped connection: nothing is sent.
    QString text = QStringLiteral("hello");
    ModemBench c;
    c.modem().ModemBusy = true;
    QCOMPARE(SendMessageDirect(c.ctx(), c.port(), QStringLiteral("555"), text).toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(SendMessageViaSim(c.ctx(), c.port(), QStringLiteral("555"), text).toString(),
             QStringLiteral("ERROR"));
    QVERIFY(c.port().written.isEmpty());
    QVERIFY(!c.ctx().engine.SendingInProgress);

    // The second part fails after the first went out.
    ModemBench d;
    QString longText(200, u'q');
    d.port().answer(kPrompt);
    d.port().answer(kSent);
    d.port().answer(kPrompt);
    d.port().answer(kErrorAnswer);
    QCOMPARE(SendMessageDirect(d.ctx(), d.port(), QStringLiteral("555"), longText).toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(d.port().written.size(), 4);
}

void TestSmsCommands::textsTheModemCannotCarryAreNeverWritten() {
    // Ctrl-Z would end the text early and ESC cancel it, letting the rest run as
    // commands; a character outside the set would go out as something else.
    const QString texts[] = {QStringLiteral("one") + kCtrlZ + QStringLiteral("AT+CMGD=1,4"),
                             QStringLiteral("two") + QChar(27) + QStringLiteral("AT+CMGD=1,4"),
                             QStringLiteral("snow \u2603")};
    for (const QString& t : texts) {
        ModemBench b;
        b.modem().CharacterSet = QStringLiteral("ANSI");
        QString text = t;
        QCOMPARE(SendMessageDirect(b.ctx(), b.port(), QStringLiteral("555"), text).toString(),
                 QStringLiteral("ERROR"));
        QCOMPARE(SendMessageViaSim(b.ctx(), b.port(), QStringLiteral("555"), t).toString(),
                 QStringLiteral("ERROR"));
        QVERIFY(b.port().written.isEmpty());
        QVERIFY(b.modem().LastSendFailure.contains(QLatin1String("cannot carry")));
    }
}

void TestSmsCommands::gsmTextsNeverHoldAnEscape() {
    // In text mode ESC cancels the message, so the extension table (ESC + code) is never
    // written: a text with any of its characters is refused before anything goes out.
    const QString extension = QStringLiteral("\f^{}\\[~]|\u20AC");
    for (const QChar c : extension) {
        ModemBench b;
        b.modem().CharacterSet = QStringLiteral("GSM");
        QString text = QStringLiteral("costs 5 ") + c;
        QCOMPARE(SendMessageDirect(b.ctx(), b.port(), QStringLiteral("555"), text).toString(),
                 QStringLiteral("ERROR"));
        QCOMPARE(SendMessageViaSim(b.ctx(), b.port(), QStringLiteral("555"), text).toString(),
                 QStringLiteral("ERROR"));
        QVERIFY(b.port().written.isEmpty());
        QVERIFY2(b.modem().LastSendFailure.contains(describeCharacters(c)),
                 qPrintable(b.modem().LastSendFailure));
    }

    // The default alphabet goes one byte per character, 160 to a part.
    ModemBench c;
    c.modem().CharacterSet = QStringLiteral("GSM");
    for (int i = 0; i < 2; ++i) {
        c.port().answer(kPrompt);
        c.port().answer(kSent);
    }
    QString mixed = QStringLiteral("@ \u00E9\u00DC\u00DF\u0394") + QString(156, u'x');
    QCOMPARE(SendMessageDirect(c.ctx(), c.port(), QStringLiteral("555"), mixed).toString(), kSent);
    QCOMPARE(c.port().written.value(1), QString(QChar(0)) + QLatin1Char(' ') + QChar(0x05) +
                                            QChar(0x5E) + QChar(0x1E) + QChar(0x10) +
                                            QString(154, u'x') + kCtrlZ);
    QCOMPARE(c.port().written.value(3), QStringLiteral("xx") + kCtrlZ);
    for (const QString& w : c.port().written)
        QVERIFY(!w.contains(QChar(27)));
}

void TestSmsCommands::storeMessageReadsTheIndex() {
    ModemBench b;
    b.port().answer(kPrompt, QStringLiteral("AT+CMGW"));
    b.port().answer(QStringLiteral("\r\n+CMGW: 5\r\n\r\nOK\r\n"));
    QString text = QStringLiteral("a\r\nb");
    QCOMPARE(StoreMessage(b.ctx(), b.port(), QStringLiteral("555"), text).toString(),
             QStringLiteral("5"));
    QCOMPARE(text, QStringLiteral("a\nb"));
    // The text goes only after the prompt.
    QCOMPARE(b.port().written,
             (QStringList{QStringLiteral("AT+CMGW=\"555\"\r"), QStringLiteral("a\nb") + kCtrlZ}));
    QCOMPARE(b.sleeps, (QList<int>{75, 75}));

    // No index line, or one that is not a number: no index.
    for (const char* answer : {"\r\nOK\r\n", "\r\n+CMGW: five\r\n\r\nOK\r\n"}) {
        b.port().answer(kPrompt, QStringLiteral("AT+CMGW"));
        b.port().answer(QString::fromLatin1(answer));
        QVERIFY(!StoreMessage(b.ctx(), b.port(), QStringLiteral("555"), text).isValid());
    }
}

void TestSmsCommands::viaSimDeletesTheStoredCopy() {
    ModemBench b;
    const QString text = QString(161, u'm');
    for (const char* slot : {"5", "6"}) {
        b.port().answer(kPrompt, QStringLiteral("AT+CMGW"));
        b.port().answer(QStringLiteral("\r\n+CMGW: %1\r\n\r\nOK\r\n").arg(QLatin1String(slot)));
        b.port().answer(QStringLiteral("\r\n+CMSS: 40\r\n\r\nOK\r\n"));
        b.port().answer(kOkAnswer);
    }
    QCOMPARE(SendMessageViaSim(b.ctx(), b.port(), QStringLiteral("555"), text).toString(),
             QStringLiteral("OK"));
    QCOMPARE(b.port().written,
             (QStringList{"AT+CMGW=\"555\"\r", QString(160, u'm') + kCtrlZ, "AT+CMSS=5\r",
                          "AT+CMGD=5\r", "AT+CMGW=\"555\"\r", QString(1, u'm') + kCtrlZ,
                          "AT+CMSS=6\r", "AT+CMGD=6\r"}));
    QCOMPARE(b.sleeps, (QList<int>{75, 75, 1000, 150, 75, 75, 1000, 150}));
    QVERIFY(!b.ctx().engine.SendingInProgress);
}

void TestSmsCommands::viaSimDeletesAFailedCopy() {
    // Refused, or never confirmed: the stored copy is deleted, the send fails.
    for (const QString& answer : {QStringLiteral("\r\n+CMS ERROR: 500\r\n"), kOkAnswer}) {
        ModemBench b;
        b.port().answer(kPrompt, QStringLiteral("AT+CMGW"));
        b.port().answer(QStringLiteral("\r\n+CMGW: 9\r\n\r\nOK\r\n"));
        b.port().answer(answer, QStringLiteral("AT+CMSS"));
        b.port().answer(kOkAnswer, QStringLiteral("AT+CMGD=9\r"));
        QCOMPARE(SendMessageViaSim(b.ctx(), b.port(), QStringLiteral("555"), QStringLiteral("hi"))
                     .toString(),
                 QStringLiteral("ERROR"));
        QCOMPARE(b.port().written.last(), QStringLiteral("AT+CMGD=9\r"));
        QVERIFY(b.port().unmatched.isEmpty());
        QVERIFY(!b.ctx().engine.SendingInProgress);
    }
}

void TestSmsCommands::viaSimWithAFullSim() {
    ModemBench b;
    b.port().answer(kPrompt, QStringLiteral("AT+CMGW"));
    b.port().answer(QStringLiteral("\r\n+CMS ERROR: 322\r\n"));
    QCOMPARE(SendMessageViaSim(b.ctx(), b.port(), QStringLiteral("555"), QStringLiteral("hi"))
                 .toString(),
             QStringLiteral("ERROR"));
    QCOMPARE(b.port().written.size(), 2);
    QCOMPARE(b.messages(),
             QStringList{QStringLiteral("Error occured while executing this command: AT+CMGW")});
    QVERIFY(!b.ctx().engine.SendingInProgress);
}

QTEST_MAIN(TestSmsCommands)
#include "test_sms_commands.moc"
