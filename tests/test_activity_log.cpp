// The activity log: its line form, trimming, and the home page's Start / Stop / Clear.
#include "engine/frm_HomePage.h"
#include "support/TestEnv.h"
#include "ui/ClickLabel.h"

#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QtTest>

namespace {
const QRegularExpression lineStart(QStringLiteral(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] : )"));
constexpr int stampLength = 24; // "[yyyy-MM-dd HH:mm:ss] : "
} // namespace

class TestActivityLog : public QObject {
    Q_OBJECT
private slots:
    void linesGoOnTopInTheirForm();
    void stoppedLoggingChangesNothing();
    void trimsOneCharacterOverTheLimit();
    void keepsTextAtTheLimit();
    void homePageLabelsSwitchLoggingAndClear();
};

void TestActivityLog::linesGoOnTopInTheirForm() {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    ctx.engine.ActivityLogEnabled = true;
    WriteActivityLog(ctx, QStringLiteral("first"));
    WriteActivityLog(ctx, QString());
    WriteActivityLog(ctx, QStringLiteral("two\r\nlines"));

    const QStringList lines = ctx.activityLog.text().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 5); // four lines and the empty rest after the last CR LF
    QVERIFY(lineStart.match(lines[0]).hasMatch());
    QCOMPARE(lines[0].mid(stampLength), QStringLiteral("two"));
    QCOMPARE(lines[1], QStringLiteral("lines"));
    QCOMPARE(lines[2].size(), stampLength); // the empty message still makes a line
    QVERIFY(lineStart.match(lines[2]).hasMatch());
    QCOMPARE(lines[3].mid(stampLength), QStringLiteral("first"));
    QCOMPARE(lines[4], QString());

    // The home page's box shows the same text, also when made after the lines.
    frm_HomePage& home = ensureHomePage(ctx);
    QCOMPARE(home.txtActivityLog->toPlainText(),
             QString(ctx.activityLog.text()).replace("\r\n", "\n"));
}

void TestActivityLog::stoppedLoggingChangesNothing() {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    ctx.engine.ActivityLogEnabled = true;
    WriteActivityLog(ctx, QStringLiteral("kept"));
    const QString before = ctx.activityLog.text();
    ctx.engine.ActivityLogEnabled = false;
    WriteActivityLog(ctx, QStringLiteral("dropped"));
    QCOMPARE(ctx.activityLog.text(), before);
    ctx.engine.ActivityLogEnabled = true;
    WriteActivityLog(ctx, QStringLiteral("after"));
    QVERIFY(!ctx.activityLog.text().contains(QLatin1String("dropped")));
    QVERIFY(ctx.activityLog.text().contains(QLatin1String("after")));
}

void TestActivityLog::trimsOneCharacterOverTheLimit() {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    ctx.engine.ActivityLogEnabled = true;
    // An old line of known content, then one that brings the text to 12001 characters.
    const QString old = QString(9000, QLatin1Char('o'));
    WriteActivityLog(ctx, old);
    const int sizeBefore = static_cast<int>(ctx.activityLog.text().size());
    const int newLength = 12001 - sizeBefore - stampLength - 2;
    QString message;
    for (int i = 0; i < newLength; ++i)
        message += QLatin1Char(static_cast<char>('a' + i % 26));
    const QString untrimmedTail = message + QStringLiteral("\r\n") + ctx.activityLog.text();
    WriteActivityLog(ctx, message);

    const QString text = ctx.activityLog.text();
    const int firstBreak = static_cast<int>(text.indexOf(QStringLiteral("\r\n")));
    const QString notice = text.left(firstBreak);
    QVERIFY(lineStart.match(notice).hasMatch());
    QCOMPARE(notice.mid(stampLength),
             QStringLiteral("**NOTICE** Removing old entries from the activity log."));
    const QString kept = text.mid(firstBreak + 2);
    QCOMPARE(kept.size(), 2000);
    // The kept part is the newest 2000 characters: the new line's stamp and its text.
    QVERIFY(lineStart.match(kept).hasMatch());
    QCOMPARE(kept.mid(stampLength), untrimmedTail.left(2000 - stampLength));
}

void TestActivityLog::keepsTextAtTheLimit() {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    ctx.engine.ActivityLogEnabled = true;
    WriteActivityLog(ctx, QString(9000, QLatin1Char('o')));
    const int newLength = 12000 - static_cast<int>(ctx.activityLog.text().size()) - stampLength - 2;
    WriteActivityLog(ctx, QString(newLength, QLatin1Char('n')));
    QCOMPARE(ctx.activityLog.text().size(), 12000);
    QVERIFY(!ctx.activityLog.text().contains(QLatin1String("NOTICE")));
}

void TestActivityLog::homePageLabelsSwitchLoggingAndClear() {
    TestEnv env(TestEnv::Db::None);
    AppContext& ctx = env.ctx();
    ctx.engine.ActivityLogEnabled = true;
    frm_HomePage& home = ensureHomePage(ctx);
    QVERIFY(!home.lblStart->isEnabled());
    QVERIFY(home.lblStop->isEnabled());

    QTest::mouseClick(home.lblStop, Qt::LeftButton);
    QVERIFY(!ctx.engine.ActivityLogEnabled);
    QVERIFY(!home.lblStop->isEnabled());
    QVERIFY(home.lblStart->isEnabled());
    WriteActivityLog(ctx, QStringLiteral("while stopped"));
    QVERIFY(home.txtActivityLog->toPlainText().isEmpty());
    // A disabled label cannot be clicked.
    QTest::mouseClick(home.lblStop, Qt::LeftButton);
    QVERIFY(!ctx.engine.ActivityLogEnabled);

    QTest::mouseClick(home.lblStart, Qt::LeftButton);
    QVERIFY(ctx.engine.ActivityLogEnabled);
    QVERIFY(home.lblStop->isEnabled() && !home.lblStart->isEnabled());
    WriteActivityLog(ctx, QStringLiteral("resumed"));
    // Lines written in quick succession reach the box with its next repaint.
    QTRY_VERIFY(home.txtActivityLog->toPlainText().contains(QLatin1String("resumed")));

    QTest::mouseClick(home.lblClear, Qt::LeftButton);
    QTRY_VERIFY(home.txtActivityLog->toPlainText().isEmpty());
    QVERIFY(ctx.activityLog.text().isEmpty());
}

QTEST_MAIN(TestActivityLog)
#include "test_activity_log.moc"
