// Answers read as lines: message texts written by strangers stay text, whatever they
// hold and however the answer is cut into reads; reports count only outside answers.
#include "core/DateTimeText.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/Receiver.h"
#include "modem/AtAnswer.h"
#include "modem/CallState.h"
#include "modem/ModemInit.h"
#include "modem/Module1.h"
#include "modem/SmsCommands.h"
#include "support/ScriptedSerialPort.h"

#include <QtTest>

namespace {

const QString kOk = QStringLiteral("\r\nOK\r\n");

// Texts that look like what the modem itself says.
const QStringList kHostileBodies = {
    QStringLiteral("OK"),
    QStringLiteral("Fine, OK\r\n\r\nOK"),
    QStringLiteral("ERROR"),
    QStringLiteral("+CMS ERROR: 500"),
    QStringLiteral("RING\r\n\r\n+CLIP: \"+447700900123\",145,\"\",,\"\",0"),
    QStringLiteral("NO CARRIER"),
    QStringLiteral("see +CMGL: 7,\"REC READ\",\"+447700900666\",,\"26/12/08,10:00:00+00\" x"),
    QStringLiteral("> "),
    QStringLiteral("two\nlines OK\n"),
};

struct Entry {
    int index;
    QString status;
    QString number;
    QString text;
};

QString listingAnswer(const QList<Entry>& entries) {
    QString s;
    for (const Entry& e : entries)
        s += QStringLiteral("\r\n+CMGL: %1,\"%2\",\"%3\",\"\",\"26/12/08,10:15:30+22\"\r\n%4")
                 .arg(e.index)
                 .arg(e.status, e.number, e.text);
    return s + QStringLiteral("\r\n\r\nOK\r\n");
}

// Lists through a scripted modem whose answer to AT+CMGL arrives as `pieces`.
struct Listed {
    int count = 0;
    QStringList texts, numbers, indexes;
    QStringList reports;
    bool succeeded = false;
};
Listed list(const QStringList& pieces, const QString& before = {}) {
    ModemBench b;
    b.port().answer(kOk, QStringLiteral("AT+CLCC"));
    QStringList all = pieces;
    all.first().prepend(before);
    b.port().answerInPieces(all, QStringLiteral("AT+CMGL"));
    ListMessages(b.ctx(), b.port(), QStringLiteral("ALL"), 10);
    Listed l;
    const ModemState& m = b.modem();
    l.count = m.SimMessageCount;
    l.texts = m.SimMessageText.mid(0, l.count);
    l.numbers = m.SimMessageNumber.mid(0, l.count);
    l.indexes = m.SimMessageIndex.mid(0, l.count);
    l.succeeded = m.CommandSucceeded;
    at::lineOf(b.ctx().modem).feed(b.port().input());
    l.reports = at::lineOf(b.ctx().modem).takeReports();
    return l;
}

} // namespace

class TestAtAnswer : public QObject {
    Q_OBJECT
private slots:
    void finalResultsAndReportsAreWholeLines();
    void hostileBodiesStayTextAtEverySplit();
    void echoAndReportsAroundAnswers();
    void promptOnlyAsTheLastWholeLine();
    void receivedHostileTextsMakeNoCallNoReplyNoStrayDelete();
};

void TestAtAnswer::finalResultsAndReportsAreWholeLines() {
    using at::Final;
    const struct {
        const char* line;
        Final final;
        bool report;
    } cases[] = {
        {"OK", Final::Ok, false},
        {"OK\r", Final::Ok, false},
        {"  OK ", Final::Ok, false},
        {"OK then", Final::None, false},
        {"NOT OK", Final::None, false},
        {"ERROR", Final::Error, false},
        {"+CMS ERROR: 322", Final::CmsError, false},
        {"+CME ERROR: 10", Final::CmeError, false},
        {"said ERROR", Final::None, false},
        {"NO CARRIER", Final::NoCarrier, true},
        {"RING", Final::None, true},
        {"RINGING", Final::None, false},
        {"+CLIP: \"+44\",145", Final::None, true},
        {"+CMTI: \"SM\",3", Final::None, true},
        {"^RSSI:17", Final::None, true},
        {"hello RING", Final::None, false},
        {"BUSY", Final::Other, false},
        {"CONNECT 9600", Final::Other, false},
    };
    for (const auto& c : cases) {
        const QString line = QString::fromLatin1(c.line);
        QVERIFY2(at::finalResult(line) == c.final, c.line);
        QVERIFY2(at::isUnsolicited(line) == c.report, c.line);
    }
    // A command's own information lines are its answer, not reports.
    QVERIFY(at::isUnsolicited(QStringLiteral("+CLCC: 1,1,4,0,0,\"1\",129")));
    QVERIFY(!at::isUnsolicited(QStringLiteral("+CLCC: 1,1,4,0,0,\"1\",129"),
                               at::ownPrefix(QStringLiteral("AT+CLCC\r"))));
    QCOMPARE(at::callerNumber(QStringLiteral("+CLIP: \"+447700900123\",145,\"\",,\"\",0")),
             QStringLiteral("+447700900123"));
    QCOMPARE(at::callerNumber(QStringLiteral("+CLCC: 1,1,4,0,0,\"+4477, 1\",145")),
             QStringLiteral("+4477, 1"));
    QCOMPARE(at::callerNumber(QStringLiteral("+CLIP: ,128")), QString());
}

void TestAtAnswer::hostileBodiesStayTextAtEverySplit() {
    for (const QString& body : kHostileBodies) {
        const QList<Entry> entries = {
            {1, QStringLiteral("REC UNREAD"), QStringLiteral("+447700900001"), body},
            {2, QStringLiteral("REC READ"), QStringLiteral("+447700900002"), body + u'!'},
            {3, QStringLiteral("REC UNREAD"), QStringLiteral("+447700900003"), body},
        };
        const QString answer = listingAnswer(entries);
        // Whole, and cut into two reads at every byte.
        for (qsizetype cut = 0; cut < answer.size(); ++cut) {
            const Listed l = cut == 0 ? list({answer}) : list({answer.left(cut), answer.mid(cut)});
            const QString where = QStringLiteral("body %1 cut at %2").arg(body).arg(cut);
            QVERIFY2(l.succeeded, qPrintable(where));
            QVERIFY2(l.count == 3, qPrintable(where));
            QVERIFY2(l.texts == (QStringList{body, body + u'!', body}), qPrintable(where));
            QVERIFY2(l.indexes == (QStringList{"1", "2", "3"}), qPrintable(where));
            QVERIFY2(l.reports.isEmpty(), qPrintable(where));
        }
    }
}

void TestAtAnswer::echoAndReportsAroundAnswers() {
    const QList<Entry> entries = {
        {4, QStringLiteral("REC UNREAD"), QStringLiteral("+447700900004"), kHostileBodies.at(4)}};
    const QString answer = listingAnswer(entries);
    const QString ring =
        QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"+447700900999\",145,\"\",,\"\",0\r\n");
    const QString vendor = QStringLiteral("\r\n^RSSI:14\r\n\r\n+CMTI: \"SM\",5\r\n");
    const QString echo = QStringLiteral("AT+CMGL=\"ALL\"\r\n");

    struct Case {
        const char* name;
        QString before, after;
        QStringList reports;
    };
    const Case cases[] = {
        {"echo", echo, {}, {}},
        {"ring before", ring, {}, {"RING", "+CLIP: \"+447700900999\",145,\"\",,\"\",0"}},
        {"echo and ring before",
         echo + ring,
         {},
         {"RING", "+CLIP: \"+447700900999\",145,\"\",,\"\",0"}},
        {"vendor lines before", vendor, {}, {}},
        {"ring after", {}, ring, {"RING", "+CLIP: \"+447700900999\",145,\"\",,\"\",0"}},
        {"vendor after", {}, vendor, {}},
        {"noise, then a ring after",
         {},
         QStringLiteral("\r\nxq7 noise\r\n") + ring,
         {"RING", "+CLIP: \"+447700900999\",145,\"\",,\"\",0"}},
    };
    for (const Case& c : cases) {
        const QString whole = c.before + answer + c.after;
        for (qsizetype cut : {qsizetype(0), c.before.size() + 3, whole.size() - 2}) {
            const Listed l = cut == 0 ? list({whole}) : list({whole.left(cut), whole.mid(cut)});
            QVERIFY2(l.succeeded && l.count == 1, c.name);
            QCOMPARE(l.texts.value(0), kHostileBodies.at(4));
            QCOMPARE(l.reports, c.reports);
        }
    }

    // A line of noise before the call list, then a ring: the ring is still seen.
    {
        ModemBench b;
        b.port().answer(QStringLiteral("\r\nxq7 noise\r\n") + ring +
                        QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"+4477\",145\r\n\r\nOK\r\n"));
        QCOMPARE(GetCallState(b.ctx(), b.port()).toString(), QStringLiteral("Incoming"));
        QCOMPARE(at::lineOf(b.modem()).takeReports(),
                 (QStringList{"RING", "+CLIP: \"+447700900999\",145,\"\",,\"\",0"}));
    }
    // A plain command: echo on and off, reports before and after, the answer judged right.
    for (const QString& e : {QString(), QStringLiteral("AT+CGMI\r")}) {
        ModemBench b;
        b.port().answer(e + ring + QStringLiteral("\r\nNOT OK Ltd\r\n\r\nOK\r\n") + ring);
        QCOMPARE(GetManufacturer(b.ctx(), b.port()).toString(), QStringLiteral("NOT OK Ltd"));
        QVERIFY(b.modem().CommandSucceeded);
        at::lineOf(b.modem()).feed(b.port().input());
        QCOMPARE(at::lineOf(b.modem()).takeReports().count(QStringLiteral("RING")), 2);
    }
}

void TestAtAnswer::promptOnlyAsTheLastWholeLine() {
    const struct {
        const char* name;
        QString answer;
        bool prompt;
    } cases[] = {
        {"prompt", QStringLiteral("\r\n> "), true},
        {"bare prompt", QStringLiteral("> "), true},
        {"echo then prompt", QStringLiteral("AT+CMGS=\"1\"\r\r\n> "), true},
        {"ring then prompt", QStringLiteral("\r\nRING\r\n\r\n> "), true},
        {"prompt inside a line", QStringLiteral("\r\nsay > "), false},
        {"prompt then more", QStringLiteral("\r\n> \r\nOK\r\n"), false},
        {"error", QStringLiteral("\r\n+CMS ERROR: 304\r\n"), false},
    };
    for (const auto& c : cases) {
        ModemBench b;
        b.port().answer(c.answer);
        ExecuteCommand(b.ctx(), b.port(), QStringLiteral("AT+CMGS=\"1\"\r"), 1,
                       QStringLiteral("> "), 2, QString());
        QVERIFY2(b.modem().CommandSucceeded == c.prompt, c.name);
    }
}

void TestAtAnswer::receivedHostileTextsMakeNoCallNoReplyNoStrayDelete() {
    // A whole listing of such texts goes through the receiver with the main window
    // listening for calls and replying to missed ones.
    ModemBench b(true, TestEnv::Db::Connected);
    AppContext& ctx = b.ctx();
    b.port().setRThreshold(1);
    ctx.modem.ModemInitialized = true;
    ctx.engine.AutoReplyActive = true;
    ctx.engine.AutoReplyMessage = QStringLiteral("Sorry I missed your call");
    MDI_Frmmanage w(ctx);
    w.timerRefreshHomePage->setEnabled(false);

    QList<Entry> entries;
    for (int i = 0; i < kHostileBodies.size(); ++i)
        entries << Entry{i + 1, QStringLiteral("REC UNREAD"),
                         QStringLiteral("+4477009000%1").arg(i + 10), kHostileBodies.at(i)};
    b.port().answer(kOk, QStringLiteral("AT+CLCC"));
    const QString answer = listingAnswer(entries);
    b.port().answerInPieces({answer.left(answer.size() / 2), answer.mid(answer.size() / 2)},
                            QStringLiteral("AT+CMGL"));
    b.port().answerAlways(QStringLiteral("AT+CMGD="), kOk);
    ReceiveNewMessages(ctx, 10);
    QVERIFY(b.env.settle());
    // Later ticks: the call-state poll and the reply step find nothing to do.
    b.port().answerAlways(QStringLiteral("AT+CLCC"), kOk);
    w.timerRefreshHomePage_Timer();
    w.timerRefreshHomePage_Timer();
    QTest::qWait(50);

    const QueryResult rows = ctx.DBConnection.query(
        QStringLiteral("select SenderMobileNo, Message from Message_InBox order by InBox_Id"));
    QCOMPARE(rows.count(), static_cast<int>(kHostileBodies.size()));
    for (int i = 0; i < rows.count(); ++i) {
        QCOMPARE(rows.value(i, QStringLiteral("Message")).toString(), kHostileBodies.at(i));
        QCOMPARE(rows.value(i, QStringLiteral("SenderMobileNo")).toString(), entries.at(i).number);
    }
    QStringList deletes;
    for (const QString& cmd : b.port().written) {
        if (cmd.startsWith(QLatin1String("AT+CMGD="))) deletes << cmd.trimmed();
    }
    QStringList expected;
    for (const Entry& e : entries)
        expected << QStringLiteral("AT+CMGD=%1").arg(e.index);
    QCOMPARE(deletes, expected);
    QCOMPARE(ctx.DBConnection.count(QStringLiteral("select * from MissedCallStatistics")), 0);
    QCOMPARE(ctx.DBConnection.count(QStringLiteral("select * from Message_OutBox")), 0);
    QVERIFY(!ctx.activityLog.text().contains(QLatin1String("ALERT")));
}

QTEST_MAIN(TestAtAnswer)
#include "test_at_answer.moc"
