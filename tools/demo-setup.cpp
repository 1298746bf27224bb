// Stores modem settings in a data folder's database when it has none yet:
//
//   demo-setup [--port N] [--demo-messages] [--message NUMBER TEXT] DATA_FOLDER
//
// The settings are COM N (default 1) at 9600,n,8,1 with caller id on. With
// --demo-messages (the run script, for the simulated modem) three demonstration
// messages are queued as well, and with --message (the package check) that one; never
// use them with a real modem, which would send them. A database that already has modem
// settings is left as it is.
#include "core/DateTimeText.h"
#include "core/Database.h"

#include <QDir>
#include <QStringList>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    int port = 1;
    bool demoMessages = false;
    QStringList message; // number, text
    const char* folder = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--demo-messages") == 0) {
            demoMessages = true;
        } else if (std::strcmp(argv[i], "--message") == 0 && i + 2 < argc) {
            message = {QString::fromLocal8Bit(argv[i + 1]), QString::fromLocal8Bit(argv[i + 2])};
            i += 2;
        } else if (!folder && argv[i][0] != '-') {
            folder = argv[i];
        } else {
            folder = nullptr;
            break;
        }
    }
    if (!folder || port < 1 || port > 99) {
        std::fprintf(stderr, "usage: demo-setup [--port N] [--demo-messages] [--message NUMBER TEXT] "
                             "DATA_FOLDER\n");
        return 2;
    }
    const QString path = QDir(QString::fromLocal8Bit(folder)).filePath(QStringLiteral("BulkSMS.db"));
    try {
        Database db;
        db.open(path, databasePassword());
        if (db.count(QStringLiteral("select * from ModemSetting")) > 0) {
            std::printf("demo-setup: modem settings already present; nothing changed\n");
            return 0;
        }
        db.transaction([&] {
            db.execute(QStringLiteral("insert into ModemSetting (CommPortNo,BitsPerSecond,Parity,DataBits,"
                                      "StopBits,FlowControl,CharacterSet,EnabledCallerId,ModemDelayFactor) "
                                      "values (?,'9600','n','8','1','0','GSM',true,1)"),
                       {port});
            const QString insert = QStringLiteral("insert into Message_OutBox (RecepId,RecipientMobileNo,"
                                                  "Message,OutBoxDateTime) values (0,?,?,?)");
            if (!message.isEmpty()) db.execute(insert, {message[0], message[1], nowText()});
            if (!demoMessages)
                return;
            db.execute(insert, {QStringLiteral("+919812345678"),
                                QStringLiteral("Welcome! Your order #1042 is ready for pickup."), nowText()});
            db.execute(insert, {QStringLiteral("+447911123456"),
                                QStringLiteral("Reminder: the school trip leaves at 8:30 tomorrow."), nowText()});
            db.execute(insert, {QStringLiteral("9888812121"),
                                QStringLiteral("Your appointment is confirmed for Monday, 10:00."), nowText()});
        });
        std::printf("demo-setup: modem settings stored (COM%d, 9600,n,8,1, caller id on)%s%s\n", port,
                    demoMessages ? "; 3 demonstration messages queued" : "",
                    message.isEmpty() ? "" : "; 1 message queued");
        return 0;
    } catch (const DbError& e) {
        std::fprintf(stderr, "demo-setup: %s\n", qPrintable(e.description()));
        return 1;
    }
}
