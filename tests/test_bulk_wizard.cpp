// The bulk wizard's windows: their checks and messages, navigation between the steps,
// the number list and queueing into the Outbox, on the sample files in tests/fixtures.
#include "compose/BulkWizard.h"
#include "compose/Frm_BulkSMS_Step2.h"
#include "compose/Frm_BulkSMS_Step3.h"
#include "compose/Frm_BulkSMS_Step4.h"
#include "compose/Frm_BulkSMS_Step5.h"
#include "compose/Frm_ImportProgress.h"
#include "compose/ImportReader.h"
#include "compose/NumberListModel.h"
#include "core/FolderTotals.h"
#include "core/Storage.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/Startup.h"
#include "support/TestEnv.h"
#include "support/Workbooks.h"

#include <QCheckBox>
#include <QProcess>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QToolBar>
#include <QtTest>
#include <cstdio>

namespace {

QString fixture(const QString& name) {
    return QStringLiteral(BULKSMS_SOURCE_DIR "/tests/fixtures/") + name;
}

// A wizard run in a test's world.
struct Run {
    TestEnv env;
    BulkWizard* wizard;
    Run() : wizard(new BulkWizard(env.ctx())) {}
    ~Run() { delete wizard; }
    Database& db() { return env.ctx().DBConnection; }
    qint64 outboxRows() {
        return env.scalar(QStringLiteral("select count(*) from Message_OutBox"));
    }
    QString copy(const QString& name, const QString& as = {}) {
        const QString path = QDir(env.folder()).filePath(as.isEmpty() ? name : as);
        QFile::copy(fixture(name), path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }
    QString write(const QString& name, const QByteArray& bytes) {
        const QString path = QDir(env.folder()).filePath(name);
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) f.write(bytes);
        return path;
    }

    // Waits until the wizard's reading or queueing is over (the program never waits).
    bool settle() {
        return QTest::qWaitFor([&] { return !wizard->isBusy(); }, 60000);
    }
    Frm_BulkSMS_Step2& step2() {
        if (!wizard->isLoaded(2)) wizard->show(2);
        return *wizard->Step2();
    }
    // Step 2 with a text file and its layout, then Next.
    Frm_BulkSMS_Step5* fromText(const QString& path, const QString& separator) {
        Frm_BulkSMS_Step2& s2 = step2();
        if (!s2.OptTxt->isChecked()) s2.OptTxt->click();
        if (separator.isEmpty()) {
            s2.OptNoOnNewLine->click();
        } else {
            s2.OptNoSeperatedBy->click();
            s2.cmbNoSeperatedBy->setCurrentText(separator);
        }
        s2.txtFileName->setText(path);
        s2.cmdNext_Click();
        settle();
        return wizard->Step5();
    }
    // Step 2 with a database file, then Next.
    void fromDatabase(bool access, const QString& path) {
        Frm_BulkSMS_Step2& s2 = step2();
        (access ? s2.OptAccess : s2.OptExcel)->click();
        s2.txtFileName->setText(path);
        s2.cmdNext_Click();
        settle();
    }
    // The messages shown since the last call.
    QStringList takeMessages() {
        QStringList m = env.messages;
        env.messages.clear();
        return m;
    }
};

// Chooses an entry as the user does, and waits for what that reads.
bool choose(QComboBox* box, const QString& text) {
    const int i = box->findText(text);
    if (i < 0) return false;
    box->setCurrentIndex(i);
    emit box->activated(i);
    BulkWizard& w = static_cast<BulkWizardStep*>(box->window())->wizard();
    return QTest::qWaitFor([&] { return !w.isBusy(); }, 60000);
}


QStringList items(const QComboBox* box) {
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

QStringList listed(const Frm_BulkSMS_Step5& s5, bool messages = false) {
    QStringList list;
    for (const ImportEntry& e : s5.listModel->entries())
        list << (messages ? e.message : e.number);
    return list;
}

struct OutboxRow {
    QVariant recepId, number, message, queuedAt, status, sentAt;
};
QList<OutboxRow> outbox(Database& db) {
    const QueryResult r = db.query(
        QStringLiteral("select RecepId,RecipientMobileNo,Message,OutBoxDateTime,DeliveryStatus,"
                       "DeliveryDatetime from Message_OutBox order by Outbox_Id"));
    QList<OutboxRow> rows;
    for (const QVariantList& v : r.rows)
        rows.append({v[0], v[1], v[2], v[3], v[4], v[5]});
    return rows;
}

const QString sent = QStringLiteral("Message has been sent successfully to Out box.");
const QString selectNumber = QStringLiteral("Please select mobile number from list.");

} // namespace

class TestBulkWizard : public QObject {
    Q_OBJECT
private slots:
    void step2ChecksInOrder();
    void textFileToOutbox();
    void navigationBetweenSteps();
    void accessTableWithSeparateMessages();
    void excelSheet_data();
    void excelSheet();
    void messagesTheModemCannotCarryAreRefused();
    void bigListQueuesAllOrNone();
    void totalsStayExactWhenQueueingIsKilled();
    void badFilesKeepTheWizardOnTheFileStep();
    void cancelAtEachStepAndRealSheetNames();
    void mainWindowOpensTheWizard();
};

void TestBulkWizard::step2ChecksInOrder() {
    Run run;
    Frm_BulkSMS_Step2& s2 = run.step2();
    QVERIFY(run.env.ctx().engine.ModalFormOpen);
    QCOMPARE(s2.windowTitle(), QStringLiteral("Bulk SMS Wizard"));
    QVERIFY(s2.OptTxt->isChecked() && s2.OptNoSeperatedBy->isChecked());
    QVERIFY(s2.cmbNoSeperatedBy->isEnabled());
    QCOMPARE(s2.cmbNoSeperatedBy->currentIndex(), -1);
    QCOMPARE(items(s2.cmbNoSeperatedBy), QStringList({",", ";", "~", "^", ":"}));

    s2.txtFileName->setText(QStringLiteral("   "));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    s2.txtFileName->setText(run.copy("numbers-semicolon.txt"));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    s2.cmbNoSeperatedBy->setCurrentText(QStringLiteral(";"));
    s2.txtFileName->setText(run.env.folder() + QStringLiteral("/missing.txt"));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    s2.txtFileName->setText(run.copy("numbers-semicolon.txt", "list.csv"));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(),
             QStringList(
                 {"Please select file.", "Plese select 'Numbers are seperated by' from combo box.",
                  "This file does not exist!!!", "Please enter or select Text file only."}));
    QVERIFY(!run.wizard->isLoaded(5));

    // Another source empties the file box and has no text layout.
    s2.OptAccess->click();
    QCOMPARE(s2.txtFileName->text(), QString());
    QVERIFY(!s2.OptNoOnNewLine->isEnabled() && !s2.cmbNoSeperatedBy->isEnabled());
    s2.txtFileName->setText(run.copy("contacts.xls"));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    s2.OptExcel->click();
    s2.txtFileName->setText(run.copy("contacts.mdb"));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({"Please enter or select Access file only.",
                                              "Please enter or select Excel file only."}));
    s2.OptTxt->click();
    QVERIFY(s2.OptNoOnNewLine->isEnabled() && s2.cmbNoSeperatedBy->isEnabled());
    s2.OptNoOnNewLine->click();
    QVERIFY(!s2.cmbNoSeperatedBy->isEnabled());

    // Browse offers the source's files; cancelling changes nothing.
    QString filter;
    QString answer = run.copy("contacts.xlsx");
    Frm_BulkSMS_Step2::setFileDialog([&](QWidget*, const QString& folder, const QString& f) {
        filter = f;
        return folder == run.env.folder() ? answer : QString();
    });
    s2.OptExcel->click();
    s2.cmdBrowse_Click();
    QVERIFY(filter.contains(QLatin1String("*.xls")) && filter.contains(QLatin1String("*.xlsx")));
    QCOMPARE(s2.txtFileName->text(), answer);
    QCOMPARE(run.wizard->fromStep2.SelectedfileName, answer);
    answer.clear();
    s2.cmdBrowse_Click();
    QCOMPARE(s2.txtFileName->text(), run.wizard->fromStep2.SelectedfileName);
    Frm_BulkSMS_Step2::setFileDialog({});

    // Extensions in any case.
    s2.OptTxt->click();
    s2.OptNoOnNewLine->click();
    s2.txtFileName->setText(run.copy("numbers-lines.txt", "LIST.TXT"));
    s2.cmdNext_Click();
    QVERIFY(run.settle());
    QVERIFY(run.wizard->Step5());
    QCOMPARE(run.wizard->Step5()->listModel->size(), 9);
    run.wizard->Step5()->cmdClose_Click();
    QVERIFY(!run.wizard->anyLoaded());
    QVERIFY(!run.env.ctx().engine.ModalFormOpen);
}

void TestBulkWizard::textFileToOutbox() {
    Run run;
    bool refreshed = false;
    run.env.ctx().engine.MessageBoxOpen = true;
    QObject::connect(&run.env.ctx().notifier, &Notifier::messageBoxRefresh,
                     [&] { refreshed = true; });
    Frm_BulkSMS_Step5* s5 = run.fromText(run.copy("numbers-semicolon.txt"), ";");
    QVERIFY(s5);
    QVERIFY(run.wizard->isLoaded(2) && run.wizard->Step2()->isHidden());
    QCOMPARE(listed(*s5), QStringList({"9888812121", "+442123234455", "919876543210", "9812345678",
                                       "+447700900123", "9812345678", "447911123456",
                                       "+919812345678", "98.888.12121", "9812300000,9812300001"}));
    QVERIFY(s5->IsCommonSMS);
    QVERIFY(!s5->Frame1->isHidden());
    QCOMPARE(s5->listModel->columnCount(), 1);
    QCOMPARE(s5->lblNoItems->text(), QStringLiteral("10"));
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("10"));
    QVERIFY(s5->Check1->isChecked());

    // Select All off, then a message of blanks, then no number ticked.
    s5->Check1->click();
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("0"));
    s5->txtMessage->setPlainText(QStringLiteral("    "));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    s5->txtMessage->setPlainText(QStringLiteral("  It's \"Annual Day\" on Friday.\r\nBe there  "));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({"Please enter message.", selectNumber}));
    QCOMPARE(run.outboxRows(), 0);

    // Ticking entries moves the count; Select All itself stays as it is.
    s5->listModel->setData(s5->listModel->index(3, 0), Qt::Checked, Qt::CheckStateRole);
    s5->listModel->setTicked(5, true);
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("2"));
    QVERIFY(!s5->Check1->isChecked());
    s5->Check1->click();
    s5->listModel->setTicked(9, false);
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("9"));
    QCOMPARE(s5->lblNoItems->text(), QStringLiteral("10"));

    // The box takes 160 characters at most.
    const QString typed = s5->txtMessage->toPlainText();
    s5->txtMessage->setPlainText(QString(200, QLatin1Char('x')));
    QCOMPARE(s5->txtMessage->toPlainText().size(), 160);
    s5->txtMessage->setPlainText(typed);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const QStringList listedBefore = listed(*s5);
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({sent}));
    const QList<OutboxRow> rows = outbox(run.db());
    QCOMPARE(rows.size(), 9);
    QStringList numbers;
    for (const OutboxRow& r : rows) {
        numbers << r.number.toString();
        QCOMPARE(r.message.toString(),
                 QStringLiteral("It's \"Annual Day\" on Friday.\r\nBe there"));
        QCOMPARE(r.recepId.toInt(), 0); // the table's default
        const QDateTime at =
            QDateTime::fromString(r.queuedAt.toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        QVERIFY2(at.isValid() && at >= before && at <= QDateTime::currentDateTime(),
                 qPrintable(r.queuedAt.toString()));
        QVERIFY(r.status.isNull() && r.sentAt.isNull());
    }
    QCOMPARE(numbers, listedBefore.mid(0, 9)); // the same number twice gives two rows
    QVERIFY(!run.wizard->anyLoaded());
    QVERIFY(!run.env.ctx().engine.ModalFormOpen);
    QVERIFY(refreshed);
}

void TestBulkWizard::navigationBetweenSteps() {
    Run run;
    const QString mdb = run.copy("contacts.mdb");
    run.fromDatabase(true, mdb);
    QVERIFY(run.wizard->Step3());
    QCOMPARE(items(run.wizard->Step3()->cmbTableName),
             QStringList({"Contacts", "Numbers", "My Contacts", "Order"}));

    // First visit: Back finds step 2 as it was left.
    run.wizard->Step3()->cmdBack_Click();
    QVERIFY(run.settle());
    QVERIFY(run.wizard->Step3()->isHidden());
    Frm_BulkSMS_Step2* s2 = run.wizard->Step2();
    QVERIFY(s2->OptAccess->isChecked());
    QCOMPARE(s2->txtFileName->text(), mdb);

    // Forward to the same step again: the old step 3 goes and takes step 2 with it.
    s2->cmdNext_Click();
    QVERIFY(run.settle());
    QVERIFY(!run.wizard->isLoaded(2));
    QVERIFY(run.wizard->isLoaded(3));
    QVERIFY(run.env.ctx().engine.ModalFormOpen);
    run.wizard->Step3()->cmdBack_Click();
    QVERIFY(run.settle());
    s2 = run.wizard->Step2();
    QVERIFY(s2->OptTxt->isChecked());
    QCOMPARE(s2->txtFileName->text(), QString());

    // Back from step 5 reopens the earlier step empty, listing the same file again.
    s2->OptAccess->click();
    s2->txtFileName->setText(mdb);
    s2->cmdNext_Click();
    QVERIFY(run.settle());
    Frm_BulkSMS_Step3* s3 = run.wizard->Step3();
    QVERIFY(choose(s3->cmbTableName, "Numbers"));
    QVERIFY(choose(s3->CmbFieldName, "Mobile"));
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(listed(*run.wizard->Step5()), QStringList({"9888812121", "919876543210"}));
    run.wizard->Step5()->cmdBack_Click();
    QVERIFY(run.settle());
    QVERIFY(!run.wizard->isLoaded(2) && !run.wizard->isLoaded(5));
    s3 = run.wizard->Step3();
    QVERIFY(s3 && s3 != nullptr);
    QCOMPARE(s3->cmbTableName->count(), 4);
    QCOMPARE(s3->cmbTableName->currentIndex(), -1);
    QCOMPARE(s3->CmbFieldName->count(), 0);

    // A text source leads back to step 2, a workbook to step 4.
    s3->cmdClose_Click();
    QVERIFY(!run.wizard->anyLoaded());
    run.fromText(run.copy("numbers-lines.txt"), QString())->cmdBack_Click();
    QVERIFY(run.settle());
    QVERIFY(run.wizard->Step2() && run.wizard->Step2()->txtFileName->text().isEmpty());
    run.fromDatabase(false, run.copy("contacts.xlsx"));
    Frm_BulkSMS_Step4* s4 = run.wizard->Step4();
    QVERIFY(choose(s4->CmbSheetName, "Sheet2"));
    QVERIFY(choose(s4->cmbColumnName, "Phone"));
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    run.wizard->Step5()->cmdBack_Click();
    QVERIFY(run.settle());
    QVERIFY(run.wizard->Step4() && !run.wizard->isLoaded(2));
    QCOMPARE(run.wizard->Step4()->CmbSheetName->count(), 4);
    QCOMPARE(run.wizard->Step4()->cmbColumnName->count(), 0);
    QVERIFY(run.env.messages.isEmpty());
}

void TestBulkWizard::accessTableWithSeparateMessages() {
    Run run;
    run.fromDatabase(true, run.copy("contacts.mdb"));
    Frm_BulkSMS_Step3* s3 = run.wizard->Step3();
    QVERIFY(s3->cmbSMSField->isHidden());
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    QVERIFY(choose(s3->cmbTableName, "My Contacts"));
    QCOMPARE(items(s3->CmbFieldName), QStringList({"ID", "Mobile No", "Message"}));
    QCOMPARE(items(s3->cmbSMSField), items(s3->CmbFieldName));
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    QVERIFY(choose(s3->CmbFieldName, "Mobile No"));
    s3->optSeparateSMS->click();
    QVERIFY(!s3->cmbSMSField->isHidden() && !s3->Label5->isHidden());
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(),
             QStringList({"Please select Table Name.", "Please select Field Name.",
                          "Please select SMS Field Name."}));

    // Another table empties both field lists.
    QVERIFY(choose(s3->cmbSMSField, "Message"));
    QVERIFY(choose(s3->cmbTableName, "Contacts"));
    QCOMPARE(s3->CmbFieldName->currentText(), QString());
    QCOMPARE(s3->cmbSMSField->currentText(), QString());
    QVERIFY(choose(s3->CmbFieldName, "Mobile"));
    QVERIFY(choose(s3->cmbSMSField, "Message"));
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.wizard->fromStep3.SMSColumnName, QStringLiteral("Message"));

    // A Null message stops the reading: the entries before it stay, the counts are left
    // as they were before the reading.
    Frm_BulkSMS_Step5* s5 = run.wizard->Step5();
    QVERIFY(!s5->IsCommonSMS);
    QVERIFY(s5->Frame1->isHidden());
    QCOMPARE(s5->listModel->columnCount(), 2);
    QCOMPARE(s5->listModel->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Message"));
    const QStringList shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("Null")), qPrintable(shown[0]));
    QCOMPARE(s5->listModel->size(), 8);
    QCOMPARE(s5->listModel->tickedCount(), 8);
    QCOMPARE(s5->lblNoItems->text(), QStringLiteral("0"));
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("0"));

    s5->cmdNext_Click(); // no typed message needed
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({sent}));
    const QList<OutboxRow> rows = outbox(run.db());
    QCOMPARE(rows.size(), 8);
    QCOMPARE(rows[2].message.toString(), QStringLiteral("Fees are due on Monday."));
    QCOMPARE(rows[3].number.toString(), QStringLiteral("9812345678"));
    QCOMPARE(rows[5].number.toString(), QStringLiteral("447700900123"));
    QCOMPARE(rows[5].message.toString(), QString()); // an empty message is queued empty
    QVERIFY(!rows[5].message.isNull());
    QCOMPARE(rows[6].message.toString(),
             QStringLiteral("Don't forget the \"Annual Day\" on Friday."));
    QCOMPARE(rows[7].message.toString(), QStringLiteral("Line one\r\nLine two\r\nLine three"));

    // Back to common messages: the SMS field is not handed on.
    run.fromDatabase(true, run.copy("contacts-2003.mdb"));
    s3 = run.wizard->Step3();
    QVERIFY(choose(s3->cmbTableName, "Contacts"));
    QVERIFY(choose(s3->CmbFieldName, "Mobile"));
    s3->optSeparateSMS->click();
    QVERIFY(choose(s3->cmbSMSField, "Message"));
    s3->optCommonSMS->click();
    QVERIFY(s3->cmbSMSField->isHidden());
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.wizard->fromStep3.SMSColumnName, QString());
    QVERIFY(run.wizard->Step5()->IsCommonSMS);
    QCOMPARE(run.wizard->Step5()->listModel->size(), 10);
}

void TestBulkWizard::excelSheet_data() {
    QTest::addColumn<QString>("file");
    QTest::newRow("xls") << "contacts.xls";
    QTest::newRow("xlsx") << "contacts.xlsx";
}

void TestBulkWizard::excelSheet() {
    QFETCH(QString, file);
    Run run;
    run.fromDatabase(false, run.copy(file));
    Frm_BulkSMS_Step4* s4 = run.wizard->Step4();
    QCOMPARE(items(s4->CmbSheetName), QStringList({"Contacts", "Sheet2", "Mixed", "My Sheet"}));
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    QVERIFY(choose(s4->CmbSheetName, "Mixed"));
    QCOMPARE(items(s4->cmbColumnName), QStringList({"Number", "Note"}));
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    s4->optSeparateSMS->click();
    QVERIFY(choose(s4->cmbSMSField, "Note"));
    QCOMPARE(s4->cmbSMSField->currentText(), QString());
    QVERIFY(choose(s4->cmbColumnName, "Number"));
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(
        run.takeMessages(),
        QStringList({"Please select Sheet Name.", "Please select Column Name.",
                     "First select the mobile numbers column", "Please select SMS Column Name."}));

    // The preview: the first four records, then with their messages.
    auto column = [&](int c) {
        QStringList list;
        for (int r = 0; r < s4->MshRecords->rowCount(); ++r)
            list << (s4->MshRecords->item(r, c) ? s4->MshRecords->item(r, c)->text() : QString());
        return list;
    };
    QCOMPARE(column(0),
             QStringList({"9888812121", "+442123234455", "919876543210", "09812345678"}));
    QVERIFY(choose(s4->cmbSMSField, "Note"));
    QCOMPARE(s4->MshRecords->columnCount(), 2);
    QCOMPARE(column(1), QStringList({"numeric cell", "text cell", "numeric cell",
                                     "text cell with a leading zero"}));
    QVERIFY(choose(s4->CmbSheetName, "Contacts"));
    QCOMPARE(s4->cmbColumnName->currentText(), QString());
    QCOMPARE(items(s4->cmbSMSField), QStringList({"Name", "Mobile", "Message"}));
    QVERIFY(choose(s4->cmbColumnName, "Mobile"));
    QCOMPARE(column(0), QStringList({"9888812121", "+442123234455"}));

    QVERIFY(choose(s4->CmbSheetName, "My Sheet"));
    QVERIFY(choose(s4->cmbColumnName, "Mobile"));
    QVERIFY(choose(s4->cmbSMSField, "Message"));
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    Frm_BulkSMS_Step5* s5 = run.wizard->Step5();
    QCOMPARE(listed(*s5), QStringList({"9888812121", "+447911123456"}));
    QCOMPARE(listed(*s5, true), QStringList({"Hello from My Sheet.", "Second row."}));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({sent}));
    QCOMPARE(outbox(run.db())[0].message.toString(), QStringLiteral("Hello from My Sheet."));
}

void TestBulkWizard::messagesTheModemCannotCarryAreRefused() {
    Run run;
    run.db().execute(QStringLiteral(
        "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,FlowControl,"
        "CharacterSet,EnabledCallerId) values (1,'9600','n','8','1','0','GSM',0)"));
    Frm_BulkSMS_Step5* s5 = run.fromText(run.copy("numbers-comma.txt"), ",");
    s5->txtMessage->setPlainText(QStringLiteral("Price 5€ ✓ today"));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QStringList shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("GSM")) &&
                 shown[0].contains(QLatin1String("U+2713")) &&
                 shown[0].contains(QLatin1String("U+20AC")),
             qPrintable(shown[0]));
    QCOMPARE(run.outboxRows(), 0);
    s5->cmdClose_Click();

    // Separate messages: the entries that cannot go are named and unticked.
    run.fromDatabase(true, run.copy("contacts.mdb"));
    Frm_BulkSMS_Step3* s3 = run.wizard->Step3();
    QVERIFY(choose(s3->cmbTableName, "My Contacts"));
    QVERIFY(choose(s3->CmbFieldName, "Mobile No"));
    s3->optSeparateSMS->click();
    QVERIFY(choose(s3->cmbSMSField, "Message"));
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    s5 = run.wizard->Step5();
    s5->listModel->setEntries({{"111", "fine"}, {"222", "Привет"}, {"333", "ok"}, {"444", "🙂"}},
                              true);
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("222 (entry 2)")) &&
                 shown[0].contains(QLatin1String("444 (entry 4)")) &&
                 !shown[0].contains(QLatin1String("111")),
             qPrintable(shown[0]));
    QCOMPARE(run.outboxRows(), 0);
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("2"));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({sent}));
    QCOMPARE(run.outboxRows(), 2);
}

void TestBulkWizard::bigListQueuesAllOrNone() {
    Run run;
    // More entries than a 16-bit count holds.
    constexpr int count = 40000;
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += QByteArray::number(919700000000LL + i) + "\r\n";
    Frm_BulkSMS_Step5* s5 = run.fromText(run.write("big.txt", text), QString());
    QCOMPARE(s5->lblNoItems->text(), QString::number(count));
    s5->Check1->click();
    QCOMPARE(s5->lblSelectedItems->text(), QStringLiteral("0"));
    s5->Check1->click();
    QCOMPARE(s5->lblSelectedItems->text(), QString::number(count));
    auto totalsExact = [&] {
        return run.env.scalar(QStringLiteral("select OutboxWaiting from MessageFolderTotals")) ==
               run.outboxRows();
    };

    // The database refuses one row in the middle of a later batch: nothing goes in.
    run.db().execute(QStringLiteral(
        "create trigger refuse before insert on Message_OutBox when "
        "new.RecipientMobileNo='919700030000' begin select raise(abort,'disk I/O error'); end"));
    s5->txtMessage->setPlainText(QStringLiteral("Exam results are out."));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QStringList shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(QLatin1String("disk I/O error")) &&
                 shown[0].contains(QLatin1String("Nothing was put in the Out box")),
             qPrintable(shown[0]));
    QCOMPARE(run.outboxRows(), 0);
    QVERIFY(totalsExact());
    QVERIFY(run.wizard->isLoaded(5));
    QCOMPARE(s5->lblSelectedItems->text(), QString::number(count));
    run.db().execute(QStringLiteral("drop trigger refuse"));

    // Cancel half way: the rows gathered so far go again; the Out box never had them.
    s5->cmdNext_Click();
    QVERIFY(QTest::qWaitFor(
        [&] { return run.env.scalar(QStringLiteral("select count(*) from temp.OutboxQueueing")) > 0; },
        30000));
    QCOMPARE(run.outboxRows(), 0);
    auto* progress = s5->findChild<Frm_ImportProgress*>();
    QVERIFY(progress);
    emit progress->cancelRequested();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(),
             QStringList({"Sending was cancelled: nothing was put in the Out box."}));
    QCOMPARE(run.outboxRows(), 0);
    QVERIFY(totalsExact());

    // Sending again queues every number once.
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({sent}));
    QCOMPARE(run.outboxRows(), count);
    QVERIFY(totalsExact());
    QCOMPARE(run.env.scalar(
                 QStringLiteral("select count(distinct RecipientMobileNo) from Message_OutBox")),
             count);
    QCOMPARE(run.env.ctx().DBConnection.count(QStringLiteral(
                 "select * from Message_OutBox where DeliveryStatus is not null")),
             0);
}

void TestBulkWizard::badFilesKeepTheWizardOnTheFileStep() {
    Run run;
    auto onFileStep = [&](const QString& path) {
        return run.wizard->Step2() && !run.wizard->Step2()->isHidden() &&
               run.wizard->Step2()->txtFileName->text() == path && !run.wizard->isLoaded(3) &&
               !run.wizard->isLoaded(4) && !run.wizard->isLoaded(5);
    };
    // A text file named .mdb, a truncated workbook, a row past Excel's last.
    const QString mdb = run.copy("not-an-access-file.mdb");
    run.fromDatabase(true, mdb);
    QStringList shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("not an Access database")), qPrintable(shown[0]));
    QVERIFY(onFileStep(mdb));
    QFile xlsx(fixture("contacts.xlsx"));
    QVERIFY(xlsx.open(QIODevice::ReadOnly));
    const QString cut = run.write("cut.xlsx", xlsx.read(3000));
    run.fromDatabase(false, cut);
    shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("cut.xlsx")), qPrintable(shown[0]));
    QVERIFY(onFileStep(cut));

    const QString gap = run.copy("hostile/row-gap.xlsx", "gap.xlsx");
    run.fromDatabase(false, gap);
    Frm_BulkSMS_Step4* s4 = run.wizard->Step4();
    QVERIFY(s4 && choose(s4->CmbSheetName, "S1") && choose(s4->cmbColumnName, "Number"));
    QCOMPARE(s4->MshRecords->rowCount(), 1); // the preview stops before the far row
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("1,048,576")), qPrintable(shown[0]));
    QVERIFY(onFileStep(gap));
    QCOMPARE(run.outboxRows(), 0);

    // The file removed between the steps; a binary file named .txt.
    const QString gone = run.copy("contacts.mdb", "gone.mdb");
    run.fromDatabase(true, gone);
    Frm_BulkSMS_Step3* s3 = run.wizard->Step3();
    QVERIFY(choose(s3->cmbTableName, "Contacts"));
    QVERIFY(choose(s3->CmbFieldName, "Mobile"));
    QVERIFY(QFile::remove(gone));
    s3->cmdNext_Click();
    QVERIFY(run.settle());
    shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("gone.mdb")), qPrintable(shown[0]));
    QVERIFY(onFileStep(gone));
    QFile xls(fixture("contacts.xls"));
    QVERIFY(xls.open(QIODevice::ReadOnly));
    const QString binary = run.write("binary.txt", xls.readAll());
    run.fromText(binary, QString());
    shown = run.takeMessages();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QLatin1String("not a text file")), qPrintable(shown[0]));
    QVERIFY(onFileStep(binary));
    QVERIFY(run.wizard->Step2()->OptNoOnNewLine->isChecked());

    // An empty file is no error; then a good file reads as usual.
    Frm_BulkSMS_Step5* s5 = run.fromText(run.write("empty.txt", QByteArray()), QStringLiteral(","));
    QVERIFY(run.takeMessages().isEmpty());
    QCOMPARE(s5->lblNoItems->text(), QStringLiteral("0"));
    s5->txtMessage->setPlainText(QStringLiteral("Hello"));
    s5->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(run.takeMessages(), QStringList({selectNumber}));
    s5->cmdClose_Click();
    s5 = run.fromText(run.copy("numbers-comma.txt"), QStringLiteral(","));
    QCOMPARE(s5->listModel->size(), 6);
    QCOMPARE(run.outboxRows(), 0);
}

void TestBulkWizard::cancelAtEachStepAndRealSheetNames() {
    Run run;
    // Sheets named with "$" and spaces are shown without them and read by their names.
    TestWorkbook book;
    book.sheets = {{QStringLiteral("PriceList$"),
                    R"(<row r="1"><c r="A1" t="inlineStr"><is><t>Mobile</t></is></c></row>
<row r="2"><c r="A2"><v>9888812121</v></c></row>)"},
                   {QStringLiteral(" Staff "),
                    R"(<row r="1"><c r="A1" t="inlineStr"><is><t>Phone</t></is></c></row>
<row r="2"><c r="A2"><v>447911123456</v></c></row>)"}};
    const QString path = QDir(run.env.folder()).filePath("names.xlsx");
    QVERIFY(book.write(path));
    run.fromDatabase(false, path);
    Frm_BulkSMS_Step4* s4 = run.wizard->Step4();
    QVERIFY(s4);
    QCOMPARE(items(s4->CmbSheetName), QStringList({"PriceList", "Staff"}));
    QVERIFY(choose(s4->CmbSheetName, "PriceList"));
    QVERIFY(choose(s4->cmbColumnName, "Mobile"));
    QCOMPARE(s4->MshRecords->item(0, 0)->text(), QStringLiteral("9888812121"));
    QVERIFY(choose(s4->CmbSheetName, "Staff"));
    QVERIFY(choose(s4->cmbColumnName, "Phone"));
    s4->cmdNext_Click();
    QVERIFY(run.settle());
    QCOMPARE(listed(*run.wizard->Step5()), QStringList({"447911123456"}));
    QVERIFY(run.takeMessages().isEmpty());
    run.wizard->Step5()->cmdClose_Click();

    // A reader that never answers: Cancel ends each step's wait, and the wizard stays.
    QTemporaryDir dir;
    QFile script(dir.filePath("reader"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexec sleep 60\n");
    script.close();
    script.setPermissions(script.permissions() | QFile::ExeOwner);
    auto cancel = [&](BulkWizardStep*) {
        auto* progress = qobject_cast<Frm_ImportProgress*>(run.wizard->progressWindow());
        if (!progress || !run.wizard->isBusy()) return false;
        emit progress->cancelRequested();
        return run.settle();
    };
    run.fromDatabase(false, path);
    s4 = run.wizard->Step4();
    ImportReader::setExecutable(script.fileName());
    s4->CmbSheetName->setCurrentIndex(1);
    emit s4->CmbSheetName->activated(1);
    QVERIFY(cancel(s4)); // the columns
    QCOMPARE(s4->cmbColumnName->count(), 0);
    ImportReader::setExecutable(QStringLiteral(BULKSMS_IMPORT_READER));
    QVERIFY(choose(s4->CmbSheetName, "Staff"));
    ImportReader::setExecutable(script.fileName());
    s4->cmbColumnName->setCurrentIndex(0);
    emit s4->cmbColumnName->activated(0);
    QVERIFY(cancel(s4)); // the preview
    QCOMPARE(s4->MshRecords->rowCount(), 0);
    s4->cmdNext_Click();
    Frm_BulkSMS_Step5* s5 = run.wizard->Step5();
    QVERIFY(s5 && cancel(s5)); // the reading: back on the file step
    QVERIFY(run.wizard->Step2() && !run.wizard->isLoaded(5));
    Frm_BulkSMS_Step2* s2 = run.wizard->Step2();
    QCOMPARE(s2->txtFileName->text(), path);
    s2->cmdNext_Click();
    QVERIFY(cancel(s2)); // the opening: still on the file step
    QVERIFY(!run.wizard->isLoaded(4) && !s2->isHidden());
    QVERIFY(run.takeMessages().isEmpty());
    ImportReader::setExecutable(QStringLiteral(BULKSMS_IMPORT_READER));
}

void TestBulkWizard::mainWindowOpensTheWizard() {
    TestEnv env;
    MDI_Frmmanage window(env.ctx());
    QVERIFY(window.mnuSMSMessages->actions().contains(window.mnuSendBulkSMS));
    QCOMPARE(window.mnuSendBulkSMS->text(), QStringLiteral("Send Bulk SMS"));
    const QList<QAction*> bar = window.menuBar()->actions();
    QCOMPARE(bar.indexOf(window.mnuBulkSMS) + 1, bar.indexOf(window.mnuAbout));
    QCOMPARE(window.mnuBulkSMS->text(), QStringLiteral("Bulk SMS"));
    const QList<QAction*> tools = window.Toolbar1->actions();
    QCOMPARE(tools.indexOf(window.toolButton2), tools.indexOf(window.toolButton1) + 1);
    QVERIFY(tools.indexOf(window.toolButton2) < tools.indexOf(window.toolButton5));
    QCOMPARE(window.toolButton2->text(), QStringLiteral("Send Bulk SMS"));

    window.Toolbar1_ButtonClick(2);
    QCOMPARE(env.shown.size(), 1);
    auto* first = qobject_cast<Frm_BulkSMS_Step2*>(env.shown[0]);
    QVERIFY(first);
    QVERIFY(env.ctx().engine.ModalFormOpen);
    first->OptExcel->click();

    // "Bulk SMS" closes the loaded step 2 and opens it afresh.
    window.mnuBulkSMS->trigger();
    QCOMPARE(env.shown.size(), 2);
    auto* second = qobject_cast<Frm_BulkSMS_Step2*>(env.shown[1]);
    QVERIFY(second);
    QVERIFY(second->OptTxt->isChecked());
    QVERIFY(env.ctx().engine.ModalFormOpen);
    second->cmdClose_Click();
    QVERIFY(!env.ctx().engine.ModalFormOpen);
    window.mnuSendBulkSMS->trigger();
    QCOMPARE(env.shown.size(), 3);
}

// The program killed while it queues 100,000 numbers, at chosen points of its work: at
// the Send, after its first batch, half-way, and once the Out box has them. The Out box
// has all of them or none (all once they were in), and the totals the database keeps are
// those of its rows. The child says where it stands between batches; the kill lands there
// or somewhere in the batch that follows.
void TestBulkWizard::totalsStayExactWhenQueueingIsKilled() {
    struct Point {
        const char* what;
        std::function<bool(const QString& line)> reached;
        bool allIn; // the Out box must hold every row
    };
    const QList<Point> points{
        {"at the Send", [](const QString&) { return true; }, false},
        {"after the first batch",
         [](const QString& l) { return l.startsWith(QLatin1String("gathered ")); }, false},
        {"half-way",
         [](const QString& l) {
             return l.startsWith(QLatin1String("gathered ")) && l.mid(9).toInt() >= 50000;
         },
         false},
        {"after the Out box got them", [](const QString& l) { return l == QLatin1String("queued"); },
         true},
    };
    for (const Point& point : points) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("BULK_QUEUE_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        QString folder;
        bool reached = false;
        QStringList said;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         while (!reached && child.canReadLine()) {
                             const QString line = QString::fromUtf8(child.readLine()).trimmed();
                             said << line;
                             if (folder.isEmpty()) folder = line; // said at the Send
                             reached = point.reached(line);
                         }
                         if (reached) child.kill();
                         return reached || child.state() == QProcess::NotRunning;
                     },
                     180000),
                 point.what);
        QVERIFY2(reached, qPrintable(QLatin1String(point.what) + QStringLiteral(": ") +
                                     said.join(QLatin1Char(' '))));
        QVERIFY(child.waitForFinished());
        QVERIFY2(QFileInfo(folder).isDir(), qPrintable(folder));
        struct Cleanup {
            QString folder;
            ~Cleanup() { QDir(folder).removeRecursively(); }
        } cleanup{folder};

        AppContext ctx(folder);
        QVERIFY(ConnectDatabase(ctx));
        const qint64 rows = ctx.DBConnection.count(QStringLiteral("select * from Message_OutBox"));
        QVERIFY2(rows == 100000 || (rows == 0 && !point.allIn),
                 qPrintable(QStringLiteral("%1: %2 rows").arg(point.what).arg(rows)));
        QString why;
        QVERIFY2(keptTotalsExact(ctx.DBConnection, &why), qPrintable(why));
        QCOMPARE(readFolderTotals(ctx.DBConnection).outboxWaiting, rows);
    }
}

namespace {

// The child of totalsStayExactWhenQueueingIsKilled: queues 100,000 numbers, after saying
// on standard output which folder holds its database, and says between batches how many
// rows it has gathered ("gathered n"), then "queued" once the Out box has them; it waits
// to be killed.
int queueUntilKilled() {
    auto* run = new Run; // never deleted: the folder must outlive the process
    QByteArray text;
    for (int i = 0; i < 100000; ++i)
        text += QByteArray::number(919600000000LL + i) + "\r\n";
    Frm_BulkSMS_Step5* s5 = run->fromText(run->write("many.txt", text), QString());
    if (!s5 || s5->listModel->size() != 100000) return 1;
    s5->txtMessage->setPlainText(QStringLiteral("Exam results are out."));
    s5->cmdNext_Click();
    std::printf("%s\n", qPrintable(run->env.folder()));
    std::fflush(stdout);
    // Runs between the batches (each batch is one turn of the event loop).
    auto* watch = new QTimer;
    qint64 gathered = 0;
    QObject::connect(watch, &QTimer::timeout, [&gathered, run, watch] {
        if (run->outboxRows() > 0) {
            std::printf("queued\n");
            std::fflush(stdout);
            watch->stop();
            return;
        }
        const qint64 n = run->env.scalar(QStringLiteral("select count(*) from temp.OutboxQueueing"));
        if (n > gathered) {
            gathered = n;
            std::printf("gathered %lld\n", static_cast<long long>(n));
            std::fflush(stdout);
        }
    });
    watch->start(0);
    run->settle();
    QTest::qWait(600000);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("BULK_QUEUE_CHILD")) return queueUntilKilled();
    TestBulkWizard tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "test_bulk_wizard.moc"
