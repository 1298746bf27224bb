#include "engine/frm_HomePage.h"

#include "core/AppContext.h"
#include "core/DateTimeText.h"
#include "core/FolderTotals.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"

#include <QDate>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTimer>
#include <QVBoxLayout>

frm_HomePage::frm_HomePage(AppContext& ctx, QWidget* parent)
    : QWidget(parent), msgType(ctx.engine.msgType), ctx_(ctx) {
    ctx.ownWindow(this);
    setObjectName(QStringLiteral("frm_HomePage"));
    setWindowTitle(QStringLiteral("Home"));

    auto* todayCaption = new QLabel(QStringLiteral("Today:"), this);
    lblToday = new QLabel(this);
    lblToday->setObjectName(QStringLiteral("lblToday"));
    QFont big = lblToday->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    lblToday->setFont(big);

    auto makeLink = [this](const char* name, const QString& caption) {
        auto* l = new ui::ClickLabel(caption, this);
        l->setObjectName(QLatin1String(name));
        l->setCursor(Qt::PointingHandCursor);
        return l;
    };
    lblInBox = makeLink("lblInBox", QStringLiteral("Inbox"));
    lblOutBox = makeLink("lblOutBox", QStringLiteral("Outbox"));
    LblMissCall = makeLink("LblMissCall", QStringLiteral("Missed Calls"));
    for (auto* l : {lblInBox, lblOutBox, LblMissCall}) {
        QFont f = l->font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.3);
        l->setFont(f);
        l->setUnderline(true);
        l->setStyleSheet(QStringLiteral("color: #1a4f9c;"));
    }

    auto* logCaption = new QLabel(QStringLiteral("Activity Log:"), this);
    txtActivityLog = new QPlainTextEdit(this);
    txtActivityLog->setObjectName(QStringLiteral("txtActivityLog"));
    txtActivityLog->setReadOnly(true);
    txtActivityLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    ui::labelField(logCaption, txtActivityLog);
    lblStart = makeLink("lblStart", QStringLiteral("Start"));
    lblStop = makeLink("lblStop", QStringLiteral("Stop"));
    lblClear = makeLink("lblClear", QStringLiteral("Clear"));
    lblStart->setUnderline(false);
    lblStart->setEnabled(false);
    lblStop->setUnderline(true);
    lblClear->setUnderline(true);

    auto* top = new QHBoxLayout;
    top->addWidget(todayCaption);
    top->addWidget(lblToday);
    top->addStretch();
    auto* counters = new QHBoxLayout;
    counters->addWidget(lblInBox);
    counters->addSpacing(40);
    counters->addWidget(lblOutBox);
    counters->addSpacing(40);
    counters->addWidget(LblMissCall);
    counters->addStretch();
    auto* logHeader = new QHBoxLayout;
    logHeader->addWidget(logCaption);
    logHeader->addStretch();
    logHeader->addWidget(lblStart);
    logHeader->addWidget(lblStop);
    logHeader->addWidget(lblClear);
    auto* v = new QVBoxLayout(this);
    v->addLayout(top);
    v->addLayout(counters);
    v->addLayout(logHeader);
    v->addWidget(txtActivityLog, 1);

    connect(lblInBox, &ui::ClickLabel::clicked, this, &frm_HomePage::lblInBox_Click);
    connect(lblOutBox, &ui::ClickLabel::clicked, this, &frm_HomePage::lblOutBox_Click);
    connect(LblMissCall, &ui::ClickLabel::clicked, this, &frm_HomePage::LblMissCall_Click);
    connect(lblStart, &ui::ClickLabel::clicked, this, &frm_HomePage::lblStart_Click);
    connect(lblStop, &ui::ClickLabel::clicked, this, &frm_HomePage::lblStop_Click);
    connect(lblClear, &ui::ClickLabel::clicked, this, &frm_HomePage::lblClear_Click);

    // The box shows the activity log, which lives in the context.
    // Laying the box out again takes milliseconds, and a busy engine writes many lines
    // a second: a line written shortly after another is shown with the next repaint.
    txtActivityLog->setPlainText(ctx_.activityLog.text());
    logShown_.start();
    connect(&ctx_.activityLog, &ActivityLog::textChanged, txtActivityLog, [this] {
        if (logRepaintQueued_) return;
        if (logShown_.elapsed() >= kLogRepaintMs) {
            showActivityLog();
            return;
        }
        logRepaintQueued_ = true;
        QTimer::singleShot(kLogRepaintMs, txtActivityLog, [this] { showActivityLog(); });
    });

    Form_Load();
}

void frm_HomePage::showActivityLog() {
    logRepaintQueued_ = false;
    logShown_.restart();
    txtActivityLog->setPlainText(ctx_.activityLog.text());
}

void frm_HomePage::Form_Load() {
    move(0, 0);
    msgType.clear();
    lblToday->setText(
        QLocale(QLocale::English).toString(QDate::currentDate(), QStringLiteral("dd-MMMM-yyyy")));
    // Without a database the main window reports the connection error itself.
    if (!ctx_.DBConnection.isOpen()) return;
    try {
        const FolderTotals totals = readFolderTotals(ctx_.DBConnection);
        lblInBox->setText(lblInBox->text() + QStringLiteral(" (%1)").arg(totals.inboxUnread));
        lblOutBox->setText(lblOutBox->text() + QStringLiteral(" (%1)").arg(totals.outboxWaiting));
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}

QString frm_HomePage::inboxCountSql() {
    return QStringLiteral("select IsRead from Message_InBox where IsRead=false");
}

QString frm_HomePage::outboxCountSql() {
    return QStringLiteral(
        "select DeliveryDatetime from Message_OutBox where DeliveryDatetime is null");
}

QString frm_HomePage::missedCallCountSql(const QString& today) {
    // The range covers the whole day, up to and including 23:59:59.
    return QStringLiteral("select IsMissCall from MissedCallStatistics where IsMissCall=true and "
                          "callDateTime>=#") +
           today + QStringLiteral(" 12:00:00AM") + QStringLiteral("# and callDateTime<=#") + today +
           QStringLiteral(" 23:59:59") + QStringLiteral("#");
}

void frm_HomePage::refreshCounters() {
    // All three are read before any caption changes, so a failing query leaves them all.
    // The unread and waiting counts are the folder sizes the database keeps, read
    // without counting rows, so the counters cost the same with a million messages.
    const qint64 missed = ctx_.DBConnection.count(missedCallCountSql(todayText()));
    const FolderTotals totals = readFolderTotals(ctx_.DBConnection);
    LblMissCall->setText(QStringLiteral("Missed Calls (%1)").arg(missed));
    lblInBox->setText(QStringLiteral("Inbox (%1)").arg(totals.inboxUnread));
    lblOutBox->setText(QStringLiteral("Outbox (%1)").arg(totals.outboxWaiting));
}

void frm_HomePage::lblInBox_Click() {
    msgType = QStringLiteral("I");
    emit messageBoxRequested();
}

void frm_HomePage::lblOutBox_Click() {
    msgType = QStringLiteral("O");
    emit messageBoxRequested();
}

void frm_HomePage::LblMissCall_Click() {
    emit missedCallsRequested();
}

void frm_HomePage::lblStart_Click() {
    ctx_.engine.ActivityLogEnabled = true;
    lblStop->setUnderline(true);
    lblStop->setEnabled(true);
    lblStart->setUnderline(false);
    lblStart->setEnabled(false);
}

void frm_HomePage::lblStop_Click() {
    ctx_.engine.ActivityLogEnabled = false;
    lblStop->setUnderline(false);
    lblStop->setEnabled(false);
    lblStart->setUnderline(true);
    lblStart->setEnabled(true);
}

void frm_HomePage::lblClear_Click() {
    ctx_.activityLog.clear();
}

frm_HomePage& ensureHomePage(AppContext& ctx) {
    if (!ctx.homePage) ctx.homePage = new frm_HomePage(ctx);
    return *ctx.homePage;
}
