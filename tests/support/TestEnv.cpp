#include "support/TestEnv.h"

#include "compose/ImportReader.h"
#include "core/FolderTotals.h"
#include "core/Storage.h"
#include "engine/Startup.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QWidget>
#include <stdexcept>

TestEnv::TestEnv(Db db) {
    if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
    // The test executables do not lie beside the program.
    ImportReader::setExecutable(QStringLiteral(BULKSMS_IMPORT_READER));
    if (db != Db::None) {
        if (!QFile::copy(QStringLiteral(BULKSMS_SHIPPED_DB), dbPath()))
            throw std::runtime_error("cannot copy the shipped database");
        QFile::setPermissions(dbPath(), QFile::ReadOwner | QFile::WriteOwner);
    }
    ui::setMsgBoxHandler([this](const QString& text, ui::Buttons buttons, const QString&) {
        messages << text;
        return buttons == ui::Buttons::YesNo ? yesNoAnswer : ui::Answer::Ok;
    });
    ui::setNoticeHandler([this](const QString& text, const QString&) {
        messages << text;
        notices << text;
    });
    ui::setShowHandler([this](QWidget* w, bool) {
        shown << w;
        w->show();
    });
    ctx_ = std::make_unique<AppContext>(dir_.path());
    ctx_->endProcess = [this](int) { ++endRequests; };
    if (db == Db::Connected && !ConnectDatabase(*ctx_))
        throw std::runtime_error("cannot open the test database: " +
                                 messages.join(' ').toStdString());
}

TestEnv::~TestEnv() {
    ctx_.reset();
    ui::setMsgBoxHandler({});
    ui::setNoticeHandler({});
    ui::setShowHandler({});
}

QString TestEnv::dbPath() const {
    return dir_.filePath(QStringLiteral("BulkSMS.db"));
}

qint64 TestEnv::scalar(const QString& sql, const QVariantList& params) {
    const QueryResult r = ctx_->DBConnection.query(sql, params);
    return r.rows.value(0).value(0).toLongLong();
}

bool TestEnv::settle(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    const EngineState& e = ctx_->engine;
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!e.DispatchInProgress && !e.ReceivePassInProgress) return true;
    } while (!deadline.hasExpired());
    return false;
}

bool keptTotalsExact(Database& db, QString* why) {
    const FolderTotals kept = readFolderTotals(db), counted = countFolderTotals(db);
    auto text = [](const FolderTotals& t) {
        return QStringLiteral("%1/%2/%3/%4/%5")
            .arg(t.inboxTotal)
            .arg(t.inboxUnread)
            .arg(t.outboxWaiting)
            .arg(t.sentTotal)
            .arg(t.outboxFailed);
    };
    QStringList differs;
    if (text(kept) != text(counted))
        differs << QStringLiteral("folders kept %1, counted %2").arg(text(kept), text(counted));
    for (const char folder : {inboxDays, outboxDays, sentDays}) {
        auto days = [](const QList<DayTotal>& list) {
            QStringList t;
            for (const DayTotal& d : list)
                t << d.day + QLatin1Char('=') + QString::number(d.messages);
            return t.join(QLatin1Char(' '));
        };
        const QString k = days(readDayTotals(db, folder)), c = days(countDayTotals(db, folder));
        if (k != c)
            differs << QStringLiteral("days of %1 kept [%2], counted [%3]")
                           .arg(QLatin1Char(folder))
                           .arg(k, c);
    }
    if (why) *why = differs.join(QStringLiteral("; "));
    return differs.isEmpty();
}
