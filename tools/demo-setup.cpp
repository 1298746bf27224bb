// Prepares a program folder's database for the simulated modem, for the run script:
// when no modem settings are stored yet, stores COM1 at 9600,n,8,1 with caller id and
// queues a few demonstration messages. A database that already has modem settings is
// left as it is.  Usage: demo-setup PROGRAM_FOLDER
#include "core/Database.h"
#include "core/DateTimeText.h"

#include <QDir>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: demo-setup PROGRAM_FOLDER\n");
        return 2;
    }
    const QString path =
        QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("BulkSMS.db"));
    try {
        Database db;
        db.open(path, databasePassword());
        if (db.count(QStringLiteral("select * from ModemSetting")) > 0) {
            std::printf("demo-setup: modem settings already present; nothing changed\n");
            return 0;
        }
        db.transaction([&] {
            db.execute(QStringLiteral(
                "insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,StopBits,"
                "FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
                "values (1,'9600','n','8','1','0','GSM',true,1)"));
            const QString insert =
                QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,Message,"
                               "OutBoxDateTime) values (0,?,?,?)");
            db.execute(insert, {QStringLiteral("+919812345678"),
                                QStringLiteral("Welcome! Your order #1042 is ready for pickup."),
                                nowText()});
            db.execute(insert,
                       {QStringLiteral("+447911123456"),
                        QStringLiteral("Reminder: the school trip leaves at 8:30 tomorrow."),
                        nowText()});
            db.execute(insert, {QStringLiteral("9888812121"),
                                QStringLiteral("Your appointment is confirmed for Monday, 10:00."),
                                nowText()});
        });
        std::printf("demo-setup: modem settings stored (COM1, 9600,n,8,1, caller id on); 3 "
                    "messages queued\n");
        return 0;
    } catch (const DbError& e) {
        std::fprintf(stderr, "demo-setup: %s\n", qPrintable(e.description()));
        return 1;
    }
}
