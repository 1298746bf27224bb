// A thousand numbers from a text file, queued through the bulk wizard of the running
// program and sent through the simulated modem on a pseudo-terminal: each exactly once.
#include "compose/BulkWizard.h"
#include "compose/Frm_BulkSMS_Step2.h"
#include "compose/Frm_BulkSMS_Step5.h"
#include "compose/NumberListModel.h"
#include "engine/MDI_Frmmanage.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"
#include "support/TestEnv.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QtTest>

class TestBulkEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void thousandNumbersFromATextFileAreSentOnceEach();
};

void TestBulkEndToEnd::thousandNumbersFromATextFileAreSentOnceEach() {
    if (SimProcess::executable().isEmpty()) QFAIL("the simulator was not built");
    TestEnv env;
    AppContext& ctx = env.ctx();
    SimProcess sim(SimProcess::portLink(env.folder(), 1));
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    // The simulator answers at once: the long modem pauses are cut to a tenth. The short
    // ones, which wait for the modem's prompt, stay whole so that a slow (sanitizer) build
    // still sees every prompt in time.
    ctx.sleep = [](int ms) {
        QThread::msleep(static_cast<unsigned long>(ms <= 50 ? ms : ms / 10));
    };
    ctx.DBConnection.execute(QStringLiteral(
        "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,FlowControl,"
        "CharacterSet,EnabledCallerId,ModemDelayFactor) values "
        "(1,'115200','n','8','1','0','GSM',0,1)"));
    ctx.DBConnection.execute(
        QStringLiteral("update Timer_setting set EnableSendTimer=-1, SendAllMessagesTime=1, "
                       "EnableReceiveTimer=0, SMSDelevaryMode='DIRECT DELIVER'"));
    ctx.setSerialPort(std::make_unique<QtSerialPort>(env.folder()));
    auto window = std::make_unique<MDI_Frmmanage>(ctx);
    ctx.mainWindow = window.get();
    window->MDIForm_Load();
    QVERIFY2(ctx.modem.ModemInitialized, qPrintable(ctx.activityLog.text()));

    constexpr int count = 1000;
    QByteArray text;
    QSet<QString> expected;
    for (int i = 0; i < count; ++i) {
        const QString number = QStringLiteral("+9198%1").arg(10000000 + i);
        expected.insert(number);
        text += number.toLatin1() + (i % 3 == 0 ? "\n" : "\r\n");
    }
    const QString file = env.folder() + QStringLiteral("/parents.txt");
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(text) == text.size());
    out.close();

    window->Toolbar1_ButtonClick(2);
    BulkWizard* wizard = window->findChild<BulkWizard*>();
    QVERIFY(wizard && wizard->Step2());
    wizard->Step2()->OptNoOnNewLine->click();
    wizard->Step2()->txtFileName->setText(file);
    wizard->Step2()->cmdNext_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!wizard->isBusy(), 60000);
    Frm_BulkSMS_Step5* s5 = wizard->Step5();
    QVERIFY(s5);
    QCOMPARE(s5->listModel->size(), count);
    s5->txtMessage->setPlainText(QStringLiteral("School reopens on Monday."));
    s5->cmdNext_Click();
    QTRY_VERIFY_WITH_TIMEOUT(!wizard->isBusy(), 60000);
    QCOMPARE(env.messages, QStringList({"Message has been sent successfully to Out box."}));
    QVERIFY(!ctx.engine.ModalFormOpen);

    QTRY_COMPARE_WITH_TIMEOUT(
        ctx.DBConnection.count(QStringLiteral(
            "select * from Message_OutBox where DeliveryStatus='SENT' and DeliveryDatetime is not "
            "null")),
        count, 240000);
    QTest::qWait(1500); // another pass of the send timer sends nothing more
    const QList<QJsonObject> sent = sim.transcript(QStringLiteral("sent"));
    QMap<QString, int> times;
    for (const QJsonObject& s : sent) {
        ++times[s[QStringLiteral("number")].toString()];
        QCOMPARE(s[QStringLiteral("text")].toString(), QStringLiteral("School reopens on Monday."));
    }
    QCOMPARE(sent.size(), count);
    QCOMPARE(QSet<QString>(times.keyBegin(), times.keyEnd()), expected);
    for (auto it = times.cbegin(); it != times.cend(); ++it)
        QCOMPARE(it.value(), 1);
    QVERIFY2(env.messages.size() == 1, qPrintable(env.messages.join('|')));
    ctx.mainWindow = nullptr;
}

QTEST_MAIN(TestBulkEndToEnd)
#include "test_bulk_e2e.moc"
