// What every window offers beyond the mouse: a name for each input control that a screen
// reader says, the found-modems list from the keyboard, and the boxes shown without an
// icon where the program shows them so.
#include "compose/BulkWizard.h"
#include "compose/Frm_BulkSMS_Step2.h"
#include "compose/Frm_BulkSMS_Step3.h"
#include "compose/Frm_BulkSMS_Step4.h"
#include "compose/Frm_BulkSMS_Step5.h"
#include "compose/Frm_ImportProgress.h"
#include "compose/frm_ComposeSMS.h"
#include "engine/MDI_Frmmanage.h"
#include "engine/Startup.h"
#include "engine/frm_HomePage.h"
#include "settings/Frm_FoundModemPortNumbers.h"
#include "settings/frm_ChekModemProgress.h"
#include "settings/frm_Settings.h"
#include "support/TestEnv.h"
#include "views/Frm_AutoReplyOnMissedCall.h"
#include "views/Frm_ManageSIMMsg.h"
#include "views/Frm_MessageBox.h"
#include "views/Frm_MissedCallsList.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTableWidget>
#include <QTextEdit>
#include <QTreeWidget>
#include <QtTest>
#include <functional>
#include <memory>

namespace {

// The input controls of `window` that a screen reader could not name: fields (text
// boxes, lists, date and number boxes, tables and trees) need a name of their own; a
// check box or option button is named by its caption when it has no name of its own.
// The parts of a composite control (a list's header, a combo box's drop-down, a date
// box's editor) are named with it.
QStringList unnamed(QWidget* window) {
    QStringList out;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        bool part = false;
        for (QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
            part = part || qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p) ||
                   qobject_cast<QAbstractItemView*>(p);
        if (part) continue;
        const bool field = qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w) ||
                           qobject_cast<QTextEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                           qobject_cast<QAbstractSpinBox*>(w) ||
                           qobject_cast<QAbstractItemView*>(w);
        QString name = w->accessibleName().trimmed();
        if (auto* b = qobject_cast<QAbstractButton*>(w);
            b && (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))) {
            if (name.isEmpty()) name = ui::fieldName(b->text());
        } else if (!field) {
            continue;
        }
        if (name.isEmpty())
            out << window->objectName() + QLatin1Char('.') + w->objectName() + QLatin1Char(' ') +
                       QLatin1String(w->metaObject()->className());
    }
    return out;
}

// The message box on screen (a real one, not answered by the test).
QMessageBox* shownBox() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

} // namespace

class TestWindowAccess : public QObject {
    Q_OBJECT
private slots:
    void everyInputControlHasAName();
    void foundModemsKeepTheirColumnsAndTakeTheKeyboard();
    void boxesWithoutAnIcon();
    void longWorkShowsTheBusyCursor();
};

void TestWindowAccess::everyInputControlHasAName() {
    TestEnv env;
    AppContext& ctx = env.ctx();
    auto* main = new MDI_Frmmanage(ctx); // the context deletes it
    ctx.mainWindow = main;
    frm_HomePage& home = ensureHomePage(ctx);
    BulkWizard wizard(ctx, main);
    frm_Settings settings(ctx);
    auto* found = new Frm_FoundModemPortNumbers(ctx, &settings, &settings);
    found->Form_Load({3}, {QStringLiteral("Acme")}, {QStringLiteral("AW-100")});
    // The wizard's steps go before their wizard.
    const std::unique_ptr<QWidget> steps[] = {
        std::make_unique<Frm_BulkSMS_Step2>(wizard), std::make_unique<Frm_BulkSMS_Step3>(wizard),
        std::make_unique<Frm_BulkSMS_Step4>(wizard), std::make_unique<Frm_BulkSMS_Step5>(wizard)};
    const QList<QWidget*> windows{
        main,
        &home,
        new frm_ComposeSMS(ctx, main),
        steps[0].get(),
        steps[1].get(),
        steps[2].get(),
        steps[3].get(),
        new Frm_ImportProgress(QStringLiteral("Reading..."), main),
        new Frm_MessageBox(ctx, main),
        &settings,
        found,
        new frm_ChekModemProgress(ctx, &settings, &settings),
        new Frm_AutoReplyOnMissedCall(ctx, main),
        new Frm_ManageSIMMsg(ctx, main),
        new Frm_MissedCallsList(ctx, main),
        new frm_About(main),
    };
    QStringList missing;
    for (QWidget* w : windows)
        missing << unnamed(w);
    QVERIFY2(missing.isEmpty(), qPrintable(missing.join('\n')));

    // A field is named by its label, which is its buddy; a box whose caption alone says
    // nothing ("Yes") is named by the question beside it.
    QCOMPARE(settings.Combo_comportNo->accessibleName(),
             QStringLiteral("Modem plugged-in to which COM port?"));
    QCOMPARE(settings.chkEnbCallID->accessibleName(),
             QStringLiteral("Do you want to enable caller Id ?"));
    const QList<QLabel*> labels = settings.findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(),
                        [&](QLabel* l) { return l->buddy() == settings.txttime; }));
    QCOMPARE(ui::fieldName(QStringLiteral("&Mobile No :")), QStringLiteral("Mobile No"));
    QCOMPARE(ui::fieldName(QStringLiteral("Fish && Chips")), QStringLiteral("Fish & Chips"));
    ctx.mainWindow = nullptr;
}

void TestWindowAccess::foundModemsKeepTheirColumnsAndTakeTheKeyboard() {
    TestEnv env;
    frm_Settings settings(env.ctx());
    settings.Form_Load();
    auto* found = new Frm_FoundModemPortNumbers(env.ctx(), &settings, &settings);
    found->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<Frm_FoundModemPortNumbers> window(found);
    // Commas inside a manufacturer or model stay in their cells.
    found->Form_Load({3, 5, 7},
                     {QStringLiteral("Acme, Inc."), QStringLiteral("SIMCOM_Ltd"),
                      QStringLiteral("Quectel")},
                     {QStringLiteral("AW-100, rev 2"), QStringLiteral("SIM800"),
                      QStringLiteral("EC25")});
    found->show();
    QTableWidget* grid = found->MshNumbers;
    QCOMPARE(grid->rowCount(), 3);
    const QStringList expected{"Acme, Inc.|AW-100, rev 2", "SIMCOM_Ltd|SIM800", "Quectel|EC25"};
    for (int r = 0; r < 3; ++r)
        QCOMPARE(grid->item(r, 2)->text() + '|' + grid->item(r, 3)->text(), expected[r]);
    QCOMPARE(grid->item(1, 1)->data(Qt::UserRole).toString(), QStringLiteral("5"));

    // The arrows move the highlight; Enter takes the highlighted modem, as a click on its
    // manufacturer does.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down);
    QVERIFY(window && window->isVisible());
    QCOMPARE(settings.selectedPort(), 0);
    QTest::keyClick(grid, Qt::Key_Return);
    QTRY_VERIFY(!window || !window->isVisible());
    QCOMPARE(settings.selectedPort(), 5);
    QVERIFY(settings.selectPortFromList);
    QCOMPARE(settings.Combo_BitsPerSec->currentText(), QStringLiteral("115200"));
}

void TestWindowAccess::boxesWithoutAnIcon() {
    TestEnv env;
    AppContext& ctx = env.ctx();
    ctx.DBConnection.execute(QStringLiteral(
        "insert into MissedCallStatistics (callDateTime,callerNumber,IsMissCall) values "
        "(datetime('now','localtime'),'+447700900001',-1)"));
    ui::setMsgBoxHandler({}); // real boxes, shown and closed here
    frm_ComposeSMS compose(ctx);
    compose.show();
    Frm_MessageBox messages(ctx);
    messages.show();
    messages.TreeView1_NodeClick(2);
    Frm_ManageSIMMsg sim(ctx);
    sim.show();
    Frm_MissedCallsList calls(ctx);
    calls.show();

    const struct {
        const char* what;
        std::function<void()> show;
        QMessageBox::Icon icon;
    } cases[] = {
        {"compose without input", [&] { compose.Command1_Click(); }, QMessageBox::NoIcon},
        {"page box", [&] { messages.txtPages->setText(QStringLiteral("x")); },
         QMessageBox::NoIcon},
        {"delete question", [&] { messages.DeleteSMS(); }, QMessageBox::NoIcon},
        {"SIM manager, no modem", [&] { sim.CmdShow_Click(); }, QMessageBox::NoIcon},
        {"missed calls delete question",
         [&] {
             QTRY_VERIFY(!calls.isFilling());
             calls.logs->setTicked(0, true);
             calls.cmdDelete_Click();
         },
         QMessageBox::NoIcon},
        {"a box of its own kind", [] { ui::MsgBox(QStringLiteral("plain")); },
         QMessageBox::Information},
        {"a question of its own kind", [] { ui::ask(nullptr, QStringLiteral("sure?"), {}); },
         QMessageBox::Question},
    };
    for (const auto& c : cases) {
        c.show();
        QTRY_VERIFY2(shownBox(), c.what);
        QMessageBox* box = shownBox();
        QVERIFY2(box->icon() == c.icon, c.what);
        box->reject();
        QTRY_VERIFY2(!shownBox(), c.what);
    }
    QCOMPARE(env.ctx().DBConnection.count(QStringLiteral("select * from MissedCallStatistics")),
             1); // the questions were not answered Yes
}

// Work a click starts that may take a moment shows the busy cursor, and takes it away when
// it is over; a refresh that follows the engine does not flicker it.
void TestWindowAccess::longWorkShowsTheBusyCursor() {
    TestEnv env;
    AppContext& ctx = env.ctx();
    Database& db = ctx.DBConnection;
    db.execute(QStringLiteral(
        "with recursive n(i) as (select 1 union all select i+1 from n where i<%1) "
        "insert into MissedCallStatistics (callDateTime,callerNumber,IsMissCall) "
        "select datetime('now','localtime'),'+4477009'||i,-1 from n")
                   .arg(Frm_MissedCallsList::FillChunk + 10));
    auto* main = new MDI_Frmmanage(ctx); // the context deletes it
    ctx.mainWindow = main;
    frm_ComposeSMS compose(ctx);
    compose.show();
    Frm_MessageBox box(ctx);
    box.show();
    Frm_MissedCallsList calls(ctx);
    calls.show();
    QTRY_VERIFY(!calls.isFilling());

    const struct {
        const char* what;
        std::function<void()> work;
        bool busy;
    } cases[] = {
        {"queueing typed numbers",
         [&] {
             compose.MobileNumbers->setText(QStringLiteral("111,222"));
             compose.Message->setPlainText(QStringLiteral("Hello"));
             compose.Command1_Click();
         },
         true},
        {"listing a folder", [&] { box.TreeView1_NodeClick(3); }, true},
        {"following the engine",
         [&] {
             db.execute(QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,"
                                       "Message,OutBoxDateTime) values (0,'333','Hi','2026-01-01')"));
             box.refreshFromEngine();
             QCOMPARE(box.ListMessage->topLevelItemCount(), 3); // refilled all the same
         },
         false},
        {"connecting", [&] { main->start_Click(); }, true},
        {"listing missed calls in chunks",
         [&] {
             calls.cmdSearch_Click();
             QVERIFY(calls.isFilling() && QApplication::overrideCursor()); // until the last
             QTRY_VERIFY(!calls.isFilling());
         },
         true},
    };
    for (const auto& c : cases) {
        const int before = ui::busyCursorsShown();
        c.work();
        QVERIFY2((ui::busyCursorsShown() > before) == c.busy, c.what);
        QVERIFY2(QApplication::overrideCursor() == nullptr, c.what);
    }
    QCOMPARE(db.count(QStringLiteral("select * from Message_OutBox")), 3);
    QCOMPARE(calls.logs->rowCount(), Frm_MissedCallsList::FillChunk + 10);
    ctx.mainWindow = nullptr;
}

QTEST_MAIN(TestWindowAccess)
#include "test_window_access.moc"
