#include "engine/MDI_Frmmanage.h"

#include "core/AppContext.h"
#include "engine/frm_HomePage.h"
#include "ui/ClickLabel.h"
#include "ui/Ui.h"

#include <QMdiArea>
#include <QMdiSubWindow>

MDI_Frmmanage::MDI_Frmmanage(AppContext& ctx, QWidget* parent) : QMainWindow(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("MDI_Frmmanage"));
    setWindowTitle(QStringLiteral("Varnex - Bulk SMS"));
    mdi_ = new QMdiArea(this);
    mdi_->setObjectName(QStringLiteral("mdiArea"));
    setCentralWidget(mdi_);
    resize(ui::twips(15360), ui::twips(10800));
}

void MDI_Frmmanage::showHomePage() {
    frm_HomePage& home = ctx_.ensureHomePage();
    if (!homeWindow_) {
        homeWindow_ = mdi_->addSubWindow(&home, Qt::FramelessWindowHint);
        homeWindow_->setObjectName(QStringLiteral("homeSubWindow"));
        homeWindow_->move(0, 0);
    }
    homeWindow_->showMaximized();
}

void MDI_Frmmanage::MDIForm_Load() {
    try {
        ctx_.engine.ModalFormOpen = false;
        ctx_.engine.MessageBoxPageSize = 100;
        ctx_.engine.ActivityLogEnabled = true;

        frm_HomePage& home = ctx_.ensureHomePage();
        home.lblStart->setUnderline(false);
        home.lblStart->setEnabled(false);
        showHomePage();

        const QueryResult delay =
            ctx_.DBConnection.query(QStringLiteral("select ModemDelayFactor from ModemSetting"));
        ctx_.modem.ModemDelayFactor = 1.0;
        if (!delay.isEmpty()) {
            const QVariant v = delay.value(0, QStringLiteral("ModemDelayFactor"));
            bool ok = false;
            const double d = v.toString().trimmed().toDouble(&ok);
            if (!v.isNull() && !v.toString().trimmed().isEmpty()) {
                if (!ok)
                    throw DbError(QStringLiteral("Type mismatch"));
                ctx_.modem.ModemDelayFactor = d;
            }
        }

        WriteActivityLog(ctx_, QStringLiteral("Initializing AutoReply On MissedCall Properties."));
        const QueryResult reply = ctx_.DBConnection.query(
            QStringLiteral("select * from AutoReply_OnMissedCall where isActive <> 0"));
        if (reply.isEmpty()) {
            ctx_.engine.AutoReplyActive = false;
        } else {
            ctx_.engine.AutoReplyActive = true;
            ctx_.engine.AutoReplyMessage = reply.value(0, QStringLiteral("Message")).toString().trimmed();
        }

        const QueryResult timers = ctx_.DBConnection.query(QStringLiteral("select * from Timer_setting"));
        if (!timers.isEmpty()) {
            auto isTrue = [&](const char* col) {
                return timers.value(0, QLatin1String(col)).toLongLong() == -1;
            };
            ctx_.engine.ReceiveIntervalSeconds =
                isTrue("EnableReceiveTimer")
                    ? timers.value(0, QStringLiteral("ReceiveAllMessagesTime")).toInt()
                    : 0;
            ctx_.engine.SendIntervalSeconds =
                isTrue("EnableSendTimer") ? timers.value(0, QStringLiteral("SendAllMessagesTime")).toInt()
                                          : 0;
        }
        home.refreshCounters();
    } catch (const std::exception& e) {
        ui::MsgBox(QString::fromStdString(e.what()));
    }
}
