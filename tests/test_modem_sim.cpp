// gsm-modem-sim's own protocol, driven through the program's serial control
// (QtSerialPort) over a real pseudo-terminal, and its control commands and transcript.

#include "Pdu.h"
#include "modem/QtSerialPort.h"
#include "support/SimProcess.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

const QString Ok = QStringLiteral("\r\nOK\r\n");
const QString Error = QStringLiteral("\r\nERROR\r\n");
const QChar CtrlZ(26);
const QChar Esc(27);
const QString Number = QStringLiteral("+919812345678");

QString cms(int code) {
    return QStringLiteral("\r\n+CMS ERROR: %1\r\n").arg(code);
}

// An AT client of its own, as other SMS software is: plain POSIX reads and writes on the
// device, no part of the program.
class PlainClient {
public:
    explicit PlainClient(const QString& device) {
        fd_ = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
            ::cfmakeraw(&tio);
            ::tcsetattr(fd_, TCSANOW, &tio);
        }
    }
    ~PlainClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool isOpen() const { return fd_ >= 0; }
    // Writes `bytes` and reads until a final result code or the prompt (3 s at most).
    QByteArray exchange(const QByteArray& bytes) {
        if (::write(fd_, bytes.constData(), static_cast<size_t>(bytes.size())) != bytes.size())
            return {};
        QByteArray in;
        QElapsedTimer timer;
        timer.start();
        static const QRegularExpression final(
            QStringLiteral("(\r\n(OK|ERROR|\\+CMS ERROR: \\d+)\r\n|\r\n> )$"));
        while (!final.match(QString::fromLatin1(in)).hasMatch() && timer.elapsed() < 3000) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) continue;
            char buf[512];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) in.append(buf, n);
        }
        return in;
    }

private:
    int fd_ = -1;
};

} // namespace

class TestModemSim : public QObject {
    Q_OBJECT

private slots:
    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
    }
    void cleanup() {
        line_.reset();
        port_.reset();
        sim_.reset();
        dir_.reset();
    }

    // ---- basics ------------------------------------------------------------------------

    void echoUntilAte0() {
        QVERIFY(start());
        QCOMPARE(at("AT\r"), QStringLiteral("AT\r\r\nOK\r\n"));
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("AT\r"), Ok);
        QCOMPARE(at("ATE1\r"), Ok);
        QCOMPARE(at("AT\r"), QStringLiteral("AT\r\r\nOK\r\n"));
    }

    void initialisationAsTheProgramDoesIt() {
        QVERIFY(start());
        // The program's initialisation sequence, CR alone after each command.
        QCOMPARE(at("AT+FLO=2\r"), QStringLiteral("AT+FLO=2\r\r\nOK\r\n"));
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("AT+CSCS=\"GSM\"\r"), Ok);
        QCOMPARE(at("AT+CLIP=1\r"), Ok);
        QCOMPARE(at("AT+CMGF=1\r"), Ok);
        QCOMPARE(at("AT+CGMI\r"), QStringLiteral("\r\nSIMCOM_Ltd\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CGMM\r"), QStringLiteral("\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CSCS=\"ANSI\"\r"), Ok);
        QCOMPARE(at("AT+CSCS=\"ASCII\"\r"), Ok);
        QCOMPARE(at("AT+CSCS=\"KLINGON\"\r"), Error);
        QCOMPARE(at("AT+FLO=1\r"), Ok);
        QCOMPARE(at("AT+FLO=0\r"), Ok);
        QCOMPARE(at("AT+FLO=7\r"), Error);
        QCOMPARE(at("AT+CLIP=2\r"), Error);
        QCOMPARE(at("AT+CMGF=2\r"), Error);
        QCOMPARE(sim_->commands().mid(0, 5),
                 QStringList({"AT+FLO=2", "ATE0", "AT+CSCS=\"GSM\"", "AT+CLIP=1", "AT+CMGF=1"}));
    }

    void identificationByOption() {
        QVERIFY(start({"--manufacturer", "WAVECOM MODEM", "--model", "MULTIBAND  900E  1800",
                       "--charsets", "GSM,IRA"}));
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("AT+CGMI\r"), QStringLiteral("\r\nWAVECOM MODEM\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CGMM\r"), QStringLiteral("\r\nMULTIBAND  900E  1800\r\n\r\nOK\r\n"));
        // A modem that knows only the standard character sets refuses "ANSI".
        QCOMPARE(at("AT+CSCS=\"ANSI\"\r"), Error);
        QCOMPARE(at("AT+CSCS=\"GSM\"\r"), Ok);
        QCOMPARE(at("AT+CSCS?\r"), QStringLiteral("\r\n+CSCS: \"GSM\"\r\n\r\nOK\r\n"));
    }

    void pduModeAfterPowerUp() {
        QVERIFY(start());
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGF?\r"), QStringLiteral("\r\n+CMGF: 0\r\n\r\nOK\r\n"));
        // Text-mode forms are no PDU-mode commands.
        QCOMPARE(at("AT+CMGL=\"ALL\"\r\n"), Error);
        QCOMPARE(at("AT+CMGS=\"123\"\r"), Error);
        QCOMPARE(at("AT+CMGL=?\r"), QStringLiteral("\r\n+CMGL: (0-4)\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGF=1\r"), Ok);
        QCOMPARE(at("AT+CMGF?\r"), QStringLiteral("\r\n+CMGF: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGF=?\r"), QStringLiteral("\r\n+CMGF: (0,1)\r\n\r\nOK\r\n"));
    }

    // ---- sending -------------------------------------------------------------------------

    void sendWithPrompt() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CMGS=\"+919812345678\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("Hello, world") + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGS=\"9812345678\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("two\nlines") + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 2\r\n\r\nOK\r\n"));

        const auto sent = sim_->transcript(QStringLiteral("sent"));
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0]["via"].toString(), QStringLiteral("CMGS"));
        QCOMPARE(sent[0]["number"].toString(), Number);
        QCOMPARE(sent[0]["text"].toString(), QStringLiteral("Hello, world"));
        QCOMPARE(sent[0]["ref"].toInt(), 1);
        QCOMPARE(sent[1]["number"].toString(), QStringLiteral("9812345678"));
        QCOMPARE(sent[1]["text"].toString(), QStringLiteral("two\nlines"));
        QCOMPARE(sent[1]["ref"].toInt(), 2);
        // A direct send stores nothing.
        QVERIFY(sim_->simMessages().isEmpty());

        // Bad numbers get no prompt.
        QCOMPARE(at("AT+CMGS=\"\"\r"), Error);
        QCOMPARE(at("AT+CMGS=\"12ab\"\r"), Error);
        QCOMPARE(at("AT+CMGS=123\r"), Error);
        QCOMPARE(at("AT+CMGS\r"), Error);
    }

    void textLongerThanAnSms() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QString(160, QLatin1Char('x')) + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QString(161, QLatin1Char('x')) + CtrlZ), cms(305));
        QCOMPARE(sim_->transcript(QStringLiteral("sent")).size(), 1);
    }

    void storeAndSendFromSim() {
        QVERIFY(startTextMode());
        // The program's one write: command, text and Ctrl-Z without waiting for "> ".
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"+919812345678\"\rfirst part") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"+919800000001\"\rline one\nline two") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 2\r\n\r\nOK\r\n"));
        auto sim = sim_->simMessages();
        QCOMPARE(sim.size(), 2);
        QCOMPARE(sim[0]["stat"].toString(), QStringLiteral("STO UNSENT"));
        QCOMPARE(sim[1]["text"].toString(), QStringLiteral("line one\nline two"));

        QCOMPARE(at("AT+CMSS=2\r"), QStringLiteral("\r\n+CMSS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMSS=1\r"), QStringLiteral("\r\n+CMSS: 2\r\n\r\nOK\r\n"));
        // A stored message may be sent again, and to another number.
        QCOMPARE(at("AT+CMSS=1,\"5551234\"\r"), QStringLiteral("\r\n+CMSS: 3\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->simMessages()[0]["stat"].toString(), QStringLiteral("STO SENT"));

        const auto sent = sim_->transcript(QStringLiteral("sent"));
        QCOMPARE(sent.size(), 3);
        QCOMPARE(sent[0]["via"].toString(), QStringLiteral("CMSS"));
        QCOMPARE(sent[0]["number"].toString(), QStringLiteral("+919800000001"));
        QCOMPARE(sent[0]["text"].toString(), QStringLiteral("line one\nline two"));
        QCOMPARE(sent[0]["ref"].toInt(), 1);
        QCOMPARE(sent[1]["text"].toString(), QStringLiteral("first part"));
        QCOMPARE(sent[2]["number"].toString(), QStringLiteral("5551234"));

        // Deleting the stored copies, as the store-and-deliver send does.
        QCOMPARE(at("AT+CMGD=1\r"), Ok);
        QCOMPARE(at("AT+CMGD=2\r"), Ok);
        QVERIFY(sim_->simMessages().isEmpty());
        QCOMPARE(at("AT+CMSS=1\r"), cms(321));
        QCOMPARE(at("AT+CMSS=0\r"), cms(321));
        QCOMPARE(at("AT+CMSS=31\r"), cms(321));
        QCOMPARE(at("AT+CMSS=x\r"), Error);

        // The prompt is there for clients that wait for it.
        QCOMPARE(at("AT+CMGW=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("after the prompt") + CtrlZ),
                 QStringLiteral("\r\n+CMGW: 1\r\n\r\nOK\r\n"));
        // A received message is not sent from the SIM.
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("hi")), 2);
        QCOMPARE(at("AT+CMSS=2\r"), cms(302));
    }

    void escapeCancelsAText() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("never mind") + Esc), Ok);
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"123\"\rnot stored") + Esc),
                 QStringLiteral("\r\n> \r\nOK\r\n"));
        QVERIFY(sim_->transcript(QStringLiteral("sent")).isEmpty());
        QVERIFY(sim_->simMessages().isEmpty());
        QCOMPARE(at("AT\r"), Ok);
    }

    // ---- listing -------------------------------------------------------------------------

    void listingFormat() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CMGL=\"ALL\"\r\n"), Ok); // an empty SIM
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("Hello"),
                                  QStringLiteral("26/12/08,10:15:30+22")),
                 1);
        QCOMPARE(sim_->deliverSms(QStringLiteral("9812345678"), QStringLiteral("two\nlines"),
                                  QStringLiteral("26/12/08,10:16:00+22")),
                 2);
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"+919800000001\"\rdraft") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 3\r\n\r\nOK\r\n"));

        const QString all = QStringLiteral(
            "\r\n+CMGL: 1,\"%1\",\"+919812345678\",\"\",\"26/12/08,10:15:30+22\"\r\nHello\r\n"
            "+CMGL: 2,\"%1\",\"9812345678\",\"\",\"26/12/08,10:16:00+22\"\r\ntwo\nlines\r\n"
            "+CMGL: 3,\"STO UNSENT\",\"+919800000001\",\"\",\r\ndraft\r\n"
            "\r\nOK\r\n");
        QCOMPARE(at("AT+CMGL=\"ALL\"\r\n"), all.arg(QStringLiteral("REC UNREAD")));
        // Listed once, the received messages are read.
        QCOMPARE(at("AT+CMGL=\"ALL\"\r\n"), all.arg(QStringLiteral("REC READ")));
        QCOMPARE(at("AT+CMGL=\"REC UNREAD\"\r\n"), Ok);

        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("new one"),
                                  QStringLiteral("26/12/08,11:00:00+22")),
                 4);
        QCOMPARE(
            at("AT+CMGL=\"REC UNREAD\"\r\n"),
            QStringLiteral(
                "\r\n+CMGL: 4,\"REC UNREAD\",\"+919812345678\",\"\",\"26/12/08,11:00:00+22\"\r\n"
                "new one\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGL=\"STO UNSENT\"\r\n"),
                 QStringLiteral(
                     "\r\n+CMGL: 3,\"STO UNSENT\",\"+919800000001\",\"\",\r\ndraft\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGL=\"STO SENT\"\r\n"), Ok);
        QCOMPARE(at("AT+CMGL=\"REC READ\"\r\n").count(QStringLiteral("+CMGL: ")), 3);
        QCOMPARE(at("AT+CMGL=\"FOO\"\r\n"), Error);
        QCOMPARE(at("AT+CMGL=ALL\r\n"), Error);

        // The stray LF after the listing's CR is no empty command.
        QCOMPARE(at("AT\r"), Ok);
        QCOMPARE(sim_->transcript(QStringLiteral("cmd")).last()["result"].toString(),
                 QStringLiteral("OK"));
    }

    void listingHasTheLineFormatTheProgramParses() {
        // Split at "+CMGL: ": the header runs to the first CR LF and the text to the last
        // one; the last entry's piece ends in the line end before CR LF "OK" CR LF.
        QVERIFY(startTextMode());
        sim_->deliverSms(Number, QStringLiteral("first\nsecond line"));
        sim_->deliverSms(QStringLiteral("+15551234"), QStringLiteral("last"));
        const QString answer = at("AT+CMGL=\"ALL\"\r\n");
        const QStringList pieces = answer.split(QStringLiteral("+CMGL: "));
        QCOMPARE(pieces.size(), 3);
        auto text = [&](int i, const QString& marker) {
            const QString body = pieces[i].mid(pieces[i].indexOf(QStringLiteral("\r\n")) + 2);
            return body.left(body.lastIndexOf(marker));
        };
        QCOMPARE(text(1, QStringLiteral("\r\n")), QStringLiteral("first\nsecond line"));
        QCOMPARE(text(2, QStringLiteral("\r\nOK\r\n")), QStringLiteral("last\r\n"));
        QCOMPARE(pieces[2].split(QLatin1Char(','))[2].remove(QLatin1Char('"')),
                 QStringLiteral("+15551234"));
    }

    void readAndDelete() {
        QVERIFY(startTextMode());
        sim_->deliverSms(Number, QStringLiteral("read me"), QStringLiteral("26/12/08,10:15:30+22"));
        QCOMPARE(at("AT+CMGR=1\r"),
                 QStringLiteral(
                     "\r\n+CMGR: \"REC UNREAD\",\"+919812345678\",\"\",\"26/12/08,10:15:30+22\"\r\n"
                     "read me\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->simMessages()[0]["stat"].toString(), QStringLiteral("REC READ"));
        QCOMPARE(at("AT+CMGR=2\r"), Ok); // an empty slot
        QCOMPARE(at("AT+CMGR=31\r"), cms(321));

        QCOMPARE(at("AT+CMGD=1\r"), Ok);
        QCOMPARE(at("AT+CMGD=1\r"), Ok); // already empty
        QCOMPARE(at("AT+CMGD=0\r"), cms(321));
        QCOMPARE(at("AT+CMGD=31\r"), cms(321));
        QCOMPARE(at("AT+CMGD=abc\r"), Error);
        QCOMPARE(at("AT+CMGD\r"), Error);
        QVERIFY(sim_->simMessages().isEmpty());
        QCOMPARE(sim_->transcript(QStringLiteral("deleted")).size(), 2);

        // Delete flags: 1 read, 2 read and sent, 3 also unsent, 4 all.
        sim_->deliverSms(Number, QStringLiteral("a"), {}, QStringLiteral("read"));
        sim_->deliverSms(Number, QStringLiteral("b"), {}, QStringLiteral("unread"));
        sim_->deliverSms(Number, QStringLiteral("c"), {}, QStringLiteral("sent"));
        sim_->deliverSms(Number, QStringLiteral("d"), {}, QStringLiteral("unsent"));
        QCOMPARE(at("AT+CMGD=?\r"), QStringLiteral("\r\n+CMGD: (1,2,3,4),(0-4)\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGD=1,1\r"), Ok);
        QCOMPARE(sim_->simMessages().size(), 3);
        QCOMPARE(at("AT+CMGD=1,2\r"), Ok);
        QCOMPARE(sim_->simMessages().size(), 2);
        QCOMPARE(at("AT+CMGD=1,3\r"), Ok);
        QCOMPARE(sim_->simMessages().size(), 1);
        QCOMPARE(at("AT+CMGD=1,4\r"), Ok);
        QVERIFY(sim_->simMessages().isEmpty());
    }

    // ---- a full SIM and refused sends ----------------------------------------------------

    void simFull() {
        QVERIFY(startTextMode({"--slots", "2"}));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"1\"\ra") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"2\"\rb") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 2\r\n\r\nOK\r\n"));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"3\"\rc") + CtrlZ),
                 QStringLiteral("\r\n> ") + cms(322));
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("lost")), -1);
        QVERIFY(sim_->errorString().contains(QStringLiteral("full")));
        QCOMPARE(at("AT+CPMS?\r"),
                 QStringLiteral("\r\n+CPMS: \"SM\",2,2,\"SM\",2,2,\"SM\",2,2\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGD=3\r"), cms(321));

        // Room again after a delete; "full on" makes it full whatever it holds.
        QCOMPARE(at("AT+CMGD=1\r"), Ok);
        QVERIFY(sim_->setFull(true));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"3\"\rc") + CtrlZ),
                 QStringLiteral("\r\n> ") + cms(322));
        QVERIFY(sim_->setFull(false));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"3\"\rc") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));

        // "fill" fills the free slots.
        QVERIFY(sim_->ok(QStringLiteral("clear")));
        QCOMPARE(sim_->command(QStringLiteral("fill")), QStringLiteral("OK 2"));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"3\"\rc") + CtrlZ),
                 QStringLiteral("\r\n> ") + cms(322));
        QCOMPARE(sim_->simMessages()[0]["stat"].toString(), QStringLiteral("STO UNSENT"));
        QVERIFY(sim_->transcript(QStringLiteral("store-failed")).size() >= 2);
    }

    void rejectedSends() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->rejectSends(331));
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("no network") + CtrlZ), cms(331));
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"123\"\rstored") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMSS=1\r"), cms(331));
        QCOMPARE(sim_->simMessages()[0]["stat"].toString(), QStringLiteral("STO UNSENT"));
        const auto rejected = sim_->transcript(QStringLiteral("rejected"));
        QCOMPARE(rejected.size(), 2);
        QCOMPARE(rejected[0]["via"].toString(), QStringLiteral("CMGS"));
        QCOMPARE(rejected[0]["code"].toInt(), 331);
        QCOMPARE(rejected[1]["via"].toString(), QStringLiteral("CMSS"));
        QVERIFY(sim_->transcript(QStringLiteral("sent")).isEmpty());

        QVERIFY(sim_->rejectSends(0));
        QCOMPARE(at("AT+CMSS=1\r"), QStringLiteral("\r\n+CMSS: 1\r\n\r\nOK\r\n"));
    }

    // ---- PDU mode ---------------------------------------------------------------------------

    void pduModeSendsAndStores() {
        QVERIFY(start());
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        const QString hello = QStringLiteral("0011000B916407281553F80000AA0AE8329BFD4697D9EC37");
        auto send = [&](const QString& command, const QString& pdu) {
            const QString prompt = at(command);
            if (prompt != QStringLiteral("\r\n> ")) return prompt;
            return at(pdu + CtrlZ);
        };
        QCOMPARE(send(QStringLiteral("AT+CMGS=23\r"), hello),
                 QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        // The SMSC part is never left out; the second part of a long message.
        QCOMPARE(send(QStringLiteral("AT+CMGS=23\r"), hello.mid(2)), cms(304));
        QCOMPARE(send(QStringLiteral("AT+CMGS=27\r"),
                      QStringLiteral("0051000C914477000910320000AA0E050003CC0202E8E832A8EC2603")),
                 QStringLiteral("\r\n+CMGS: 2\r\n\r\nOK\r\n"));
        auto sent = sim_->transcript(QStringLiteral("sent"));
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0]["number"].toString(), QStringLiteral("+46708251358"));
        QCOMPARE(sent[0]["text"].toString(), QStringLiteral("hellohello"));
        QCOMPARE(sent[0]["pdu"].toString(), hello);
        QCOMPARE(sent[0]["coding"].toString(), QStringLiteral("gsm7"));
        QVERIFY(!sent[0].contains(QStringLiteral("parts")));
        QCOMPARE(sent[1]["text"].toString(), QStringLiteral("the end"));
        QCOMPARE(sent[1]["concatRef"].toInt(), 0xCC);
        QCOMPARE(sent[1]["parts"].toInt(), 2);
        QCOMPARE(sent[1]["part"].toInt(), 2);

        // Malformed PDUs are refused and change nothing.
        QCOMPARE(send(QStringLiteral("AT+CMGS=22\r"), hello), cms(304));
        QCOMPARE(send(QStringLiteral("AT+CMGS=23\r"), hello.chopped(1)), cms(304));
        QCOMPARE(send(QStringLiteral("AT+CMGW=23\r"), hello.left(44) + QStringLiteral("0B")),
                 cms(304));
        QCOMPARE(at("AT+CMGS=0\r"), cms(304));
        QCOMPARE(at("AT+CMGS=165\r"), cms(304));
        QCOMPARE(at("AT+CMGW\r"), Error);
        QCOMPARE(sim_->transcript(QStringLiteral("sent")).size(), 2);
        QCOMPARE(sim_->transcript(QStringLiteral("pdu-refused")).size(), 4);
        QVERIFY(sim_->simMessages().isEmpty());

        // Stored as written (here with a status), listed, sent from the SIM, deleted.
        QCOMPARE(send(QStringLiteral("AT+CMGW=23,3\r"), hello),
                 QStringLiteral("\r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(send(QStringLiteral("AT+CMGW=23\r"), hello.toLower()),
                 QStringLiteral("\r\n+CMGW: 2\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGL=4\r"),
                 QStringLiteral("\r\n+CMGL: 1,3,,23\r\n%1\r\n+CMGL: 2,2,,23\r\n%1\r\n\r\nOK\r\n")
                     .arg(hello));
        QCOMPARE(at("AT+CMGL=2\r"),
                 QStringLiteral("\r\n+CMGL: 2,2,,23\r\n%1\r\n\r\nOK\r\n").arg(hello));
        QCOMPARE(at("AT+CMGR=1\r"),
                 QStringLiteral("\r\n+CMGR: 3,,23\r\n%1\r\n\r\nOK\r\n").arg(hello));
        QCOMPARE(at("AT+CMGL=5\r"), Error);
        QCOMPARE(at("AT+CMSS=2\r"), QStringLiteral("\r\n+CMSS: 3\r\n\r\nOK\r\n"));
        sent = sim_->transcript(QStringLiteral("sent"));
        QCOMPARE(sent.last()["via"].toString(), QStringLiteral("CMSS"));
        QCOMPARE(sent.last()["text"].toString(), QStringLiteral("hellohello"));
        QCOMPARE(sent.last()["pdu"].toString(), hello);
        QCOMPARE(at("AT+CPMS?\r"),
                 QStringLiteral("\r\n+CPMS: \"SM\",2,30,\"SM\",2,30,\"SM\",2,30\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGD=1\r"), Ok);
        QCOMPARE(at("AT+CMGF=1\r"), Ok);
        QCOMPARE(at("AT+CMGL=\"ALL\"\r"),
                 QStringLiteral("\r\n+CMGL: 2,\"STO SENT\",\"+46708251358\","
                                "\"\",\r\nhellohello\r\n\r\nOK\r\n"));
    }

    void sameSimInTextAndPduMode() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->deliverSms(Number, QStringLiteral("Price {5\u20ac} [ok] @home"),
                                 QStringLiteral("26/12/08,10:15:30+22")) > 0);
        QVERIFY(sim_->deliverSms(QStringLiteral("+79161234567"),
                                 QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442 \U0001F600"),
                                 QStringLiteral("26/12/08,10:16:00-08"),
                                 QStringLiteral("read")) > 0);
        QVERIFY(sim_->deliverSms(QStringLiteral("VM-BANKIN"), QStringLiteral("OTP 4711"),
                                 QStringLiteral("26/12/08,10:17:00+00")) > 0);
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"0812345678\"\rdraft, two\nlines") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 4\r\n\r\nOK\r\n"));
        const QString longText = QStringLiteral("0123456789").repeated(20);
        QCOMPARE(
            sim_->command(QStringLiteral("sms --split --time 26/12/08,11:00:00+22 +15550100 ") +
                          SimProcess::quote(longText)),
            QStringLiteral("OK 5,6"));

        struct Message {
            int index;
            QString stat, number, text;
            bool operator==(const Message&) const = default;
        };
        // Text mode in UCS2 carries every character: hex of UTF-16, numbers too.
        QCOMPARE(at("AT+CSCS=\"UCS2\"\r"), Ok);
        auto fromUcs2 = [](const QString& hex) {
            const QByteArray b = QByteArray::fromHex(hex.toLatin1());
            QString r;
            for (int i = 0; i + 1 < b.size(); i += 2)
                r += QChar(static_cast<char16_t>(uchar(b[i]) << 8 | uchar(b[i + 1])));
            return r;
        };
        QList<Message> inText;
        const QStringList text = at("AT+CMGL=\"ALL\",1\r").split(QStringLiteral("\r\n"));
        for (int i = 0; i + 1 < text.size(); ++i) {
            if (!text[i].startsWith(QStringLiteral("+CMGL: "))) continue;
            const QStringList f = text[i].mid(7).split(QLatin1Char(','));
            inText.append({f[0].toInt(), f[1].mid(1).chopped(1), fromUcs2(f[2].mid(1).chopped(1)),
                           fromUcs2(text[i + 1])});
        }
        QCOMPARE(at("AT+CMGF=0\r"), Ok);
        const char* const stats[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};
        QList<Message> inPdu;
        QList<sim::Tpdu> pdus;
        const QStringList pdu = at("AT+CMGL=4\r").split(QStringLiteral("\r\n"));
        for (int i = 0; i + 1 < pdu.size(); ++i) {
            if (!pdu[i].startsWith(QStringLiteral("+CMGL: "))) continue;
            const QStringList f = pdu[i].mid(7).split(QLatin1Char(','));
            sim::Tpdu t;
            std::string error;
            QVERIFY2(sim::parsePdu(pdu[i + 1].toStdString(), f[3].toInt(), t, error),
                     error.c_str());
            inPdu.append({f[0].toInt(), QLatin1String(stats[f[1].toInt()]),
                          QString::fromStdString(t.number), QString::fromStdString(t.text)});
            pdus.append(t);
        }
        QCOMPARE(inText.size(), 6);
        QVERIFY(inText == inPdu);
        QCOMPARE(inPdu[3].text, QStringLiteral("draft, two\nlines"));
        QCOMPARE(inPdu[4].text + inPdu[5].text, longText);
        // The codings and headers a real network would use.
        QVERIFY(pdus[0].coding == sim::Coding::Gsm7 && pdus[0].deliver);
        QVERIFY(pdus[1].coding == sim::Coding::Ucs2);
        QCOMPARE(pdus[1].scts, std::string("26/12/08,10:16:00-08"));
        QCOMPARE(pdus[2].toa, 0xD0);
        QVERIFY(!pdus[3].deliver);
        QCOMPARE(pdus[3].toa, 0x81);
        QCOMPARE(pdus[4].concat.parts, 2);
        QCOMPARE(pdus[5].concat.part, 2);
        QCOMPARE(pdus[5].concat.ref, pdus[4].concat.ref);
        QCOMPARE(pdus[0].smsc, std::string("+10000000000"));
    }

    void ordinaryClientInPduMode() {
        // A small AT client of its own on the pseudo-terminal: switches to PDU mode,
        // sends, lists and reads as most SMS software does.
        QVERIFY(start());
        line_.reset();
        port_.reset();
        PlainClient client(sim_->linkPath());
        QVERIFY(client.isOpen());
        QCOMPARE(client.exchange("ATZ\r"), QByteArray("ATZ\r\r\nOK\r\n"));
        QCOMPARE(client.exchange("ATE0\r"), QByteArray("ATE0\r\r\nOK\r\n"));
        QCOMPARE(client.exchange("AT+CMGF=?\r"), QByteArray("\r\n+CMGF: (0,1)\r\n\r\nOK\r\n"));
        QCOMPARE(client.exchange("AT+CMGF=0\r"), QByteArray("\r\nOK\r\n"));
        QCOMPARE(client.exchange("AT+CMGS=23\r"), QByteArray("\r\n> "));
        QCOMPARE(client.exchange("0011000B916407281553F80000AA0AE8329BFD4697D9EC37\x1a"),
                 QByteArray("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(client.exchange("AT+CMGS=38\r"), QByteArray("\r\n> "));
        QCOMPARE(client.exchange("0011000C911989214365870008AA18041F04400438043204350442002C002004"
                                 "3C043804400021\x1a"),
                 QByteArray("\r\n+CMGS: 2\r\n\r\nOK\r\n"));

        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442")),
                 1);
        QCOMPARE(sim_->deliverSms(QStringLiteral("VM-BANKIN"), QStringLiteral("Your OTP is 4711"),
                                  QStringLiteral("26/12/08,13:50:51+04")),
                 2);
        const QByteArray list = client.exchange("AT+CMGL=4\r");
        QVERIFY2(list.endsWith("\r\n+CMGL: 2,0,,35\r\n07910100000000F00410D0D6664B18742E934E000062"
                               "21803105154010D9775D0E7A52A1A0F41C44BBC562\r\n\r\nOK\r\n"),
                 list.constData());
        QVERIFY(list.startsWith("\r\n+CMGL: 1,0,,"));
        const QList<QByteArray> read = client.exchange("AT+CMGR=1\r").split('\n');
        QCOMPARE(read.size(), 6);
        QVERIFY(read[1].startsWith("+CMGR: 1,,"));
        sim::Tpdu t;
        std::string error;
        QVERIFY2(
            sim::parsePdu(read[2].trimmed().toStdString(), read[1].split(',')[2].toInt(), t, error),
            error.c_str());
        QCOMPARE(QString::fromStdString(t.number), Number);
        QCOMPARE(QString::fromStdString(t.text),
                 QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442"));
        QVERIFY(t.coding == sim::Coding::Ucs2);
        QCOMPARE(client.exchange("AT+CMGD=1,4\r"), QByteArray("\r\nOK\r\n"));

        const auto sent = sim_->transcript(QStringLiteral("sent"));
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent[0]["number"].toString(), QStringLiteral("+46708251358"));
        QCOMPARE(sent[0]["text"].toString(), QStringLiteral("hellohello"));
        QCOMPARE(sent[1]["number"].toString(), Number);
        QCOMPARE(sent[1]["text"].toString(),
                 QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440!"));
        QCOMPARE(sent[1]["coding"].toString(), QStringLiteral("ucs2"));
        QVERIFY(sim_->simMessages().isEmpty());
    }

    // ---- faults a test can make -----------------------------------------------------------

    void latePromptTurnsTheNextCommandIntoText() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->latePrompt(1200, 2));
        QElapsedTimer timer;
        timer.start();
        port_->discardInput();
        port_->output(QStringLiteral("AT+CMGS=\"123\"\r"));
        QCOMPARE(line_->readFor(300), QString());
        // A client that gives up waiting writes its next command: it becomes text.
        port_->output(QStringLiteral("AT\r"));
        const QString prompts = QStringLiteral("\r\n> \r\n> ");
        QCOMPARE(line_->collect([&](const QString& t) { return t.size() >= prompts.size(); }),
                 prompts);
        QVERIFY(timer.elapsed() >= 1100);
        QCOMPARE(at(QString(CtrlZ)), QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->transcript(QStringLiteral("sent")).first()["text"].toString(),
                 QStringLiteral("AT\r"));
        QCOMPARE(sim_->status()["latePrompts"].toInt(), 1);
        // The second late prompt; a client that waits for it is fine.
        QCOMPARE(at("AT+CMGW=\"123\"\r", 5000), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("patient") + CtrlZ),
                 QStringLiteral("\r\n+CMGW: 1\r\n\r\nOK\r\n"));
        timer.restart();
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(at(QString(Esc)), Ok);
        QCOMPARE(sim_->transcript(QStringLiteral("cmd"))[2]["latePrompt"].toInt(), 1200);
    }

    void swallowedSendsGetNoAnswer() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->swallow(2));
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("lost") + CtrlZ, 500), QString());
        QCOMPARE(at("AT\r"), Ok); // back in command mode
        // Storing is no send.
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"456\"\rkept") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMSS=1\r", 500), QString());
        QCOMPARE(sim_->simMessages()[0]["stat"].toString(), QStringLiteral("STO UNSENT"));
        QCOMPARE(sim_->transcript(QStringLiteral("cmd")).last()["result"].toString(),
                 QStringLiteral("swallowed"));
        // Used up: the next send goes out, with the first reference.
        QCOMPARE(at("AT+CMSS=1\r"), QStringLiteral("\r\n+CMSS: 1\r\n\r\nOK\r\n"));

        const auto swallowed = sim_->transcript(QStringLiteral("swallowed"));
        QCOMPARE(swallowed.size(), 2);
        QCOMPARE(swallowed[0]["via"].toString(), QStringLiteral("CMGS"));
        QCOMPARE(swallowed[0]["number"].toString(), QStringLiteral("123"));
        QCOMPARE(swallowed[0]["text"].toString(), QStringLiteral("lost"));
        QCOMPARE(swallowed[1]["via"].toString(), QStringLiteral("CMSS"));
        QCOMPARE(swallowed[1]["index"].toInt(), 1);
        QCOMPARE(swallowed[1]["text"].toString(), QStringLiteral("kept"));
        QCOMPARE(sim_->transcript(QStringLiteral("sent")).size(), 1);
    }

    void noiseAndUnsolicitedLinesAroundAnswers() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->setNoise(true));
        const QRegularExpression framed(
            QStringLiteral("^\r\n([^\r\n]+)\r\n(\r\nSIMCOM_Ltd\r\n\r\nOK\r\n)\r\n([^\r\n]+)\r\n$"));
        int reports = 0, junk = 0;
        for (int i = 0; i < 12; ++i) {
            port_->discardInput();
            port_->output(QStringLiteral("AT+CGMI\r"));
            const QString r =
                line_->collect([&](const QString& t) { return framed.match(t).hasMatch(); }, 3000);
            const auto m = framed.match(r);
            QVERIFY2(m.hasMatch(), qPrintable(r));
            for (int k : {1, 3}) {
                const QString l = m.captured(k);
                if (l.startsWith(QLatin1Char('^'))) {
                    ++reports;
                } else {
                    ++junk; // nothing a client could take for an answer or the prompt
                    QVERIFY2(!l.contains(QRegularExpression(QStringLiteral("[A-Z+,>\"]"))),
                             qPrintable(l));
                }
            }
        }
        QVERIFY(reports > 0 && junk > 0);

        QVERIFY(sim_->setNoise(false));
        QVERIFY(sim_->garbage(3));
        QCOMPARE(
            line_->collect([](const QString& t) { return t.count(QStringLiteral("\r\n")) == 6; })
                .count(QStringLiteral("\r\n")),
            6);

        // One-shot lines go around the next final answer, not around a prompt.
        QVERIFY(sim_->urcBefore(QStringLiteral("+CMTI: \"SM\",3")));
        QVERIFY(sim_->urcAfter(QStringLiteral("^RSSI:9")));
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        const QString answer =
            QStringLiteral("\r\n+CMTI: \"SM\",3\r\n\r\n+CMGS: 1\r\n\r\nOK\r\n\r\n^RSSI:9\r\n");
        port_->output(QStringLiteral("hi") + CtrlZ);
        QCOMPARE(line_->collect([&](const QString& t) { return t.size() >= answer.size(); }),
                 answer);
        QCOMPARE(at("AT\r"), Ok);
        QVERIFY(!sim_->urcBefore(QStringLiteral("two\nlines")));
    }

    void controlCommandRunsDuringASend() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CLIP=1;+CNMI=2,1\r"), Ok);
        QVERIFY(sim_->onSend(QStringLiteral("ring 1 +447900000001 60000")));
        QVERIFY(sim_->onSend(QStringLiteral("sms +447900000002 \"during the send\"")));
        QVERIFY(!sim_->onSend(QStringLiteral("frobnicate")));
        QCOMPARE(sim_->status()["onSend"].toInt(), 2);
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("hi") + CtrlZ),
                 QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"+447900000001\",145,\"\",,\"\",0\r\n"
                                "\r\n+CMTI: \"SM\",1\r\n\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->status()["onSend"].toInt(), 0);
        QCOMPARE(sim_->simMessages()[0]["text"].toString(), QStringLiteral("during the send"));
        QVERIFY(sim_->hangup());
        line_->readFor(100);

        // Armed again, it fires at a send from the SIM too; a send without it is plain.
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"123\"\rstored") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 2\r\n\r\nOK\r\n"));
        QVERIFY(sim_->onSend(QStringLiteral("sms +447900000003 second")));
        QCOMPARE(at("AT+CMSS=2\r"),
                 QStringLiteral("\r\n+CMTI: \"SM\",3\r\n\r\n+CMSS: 2\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMSS=2\r"), QStringLiteral("\r\n+CMSS: 3\r\n\r\nOK\r\n"));
        const auto ctl = sim_->transcript(QStringLiteral("ctl"));
        QVERIFY(std::any_of(ctl.begin(), ctl.end(), [](const QJsonObject& o) {
            return o["text"].toString() == QLatin1String("sms +447900000003 second") &&
                   o["reply"].toString() == QLatin1String("OK 3");
        }));
    }

    // ---- calls ---------------------------------------------------------------------------

    void ringWithCallerId() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CLIP=1\r"), Ok);
        QCOMPARE(at("AT+CLCC\r"), Ok);
        QVERIFY(sim_->ring(2, Number, 1500));
        const QString ring =
            QStringLiteral("\r\nRING\r\n\r\n+CLIP: \"+919812345678\",145,\"\",,\"\",0\r\n");
        QCOMPARE(line_->collect([&](const QString& t) { return t.size() >= ring.size(); }), ring);
        // While it rings the call is listed as incoming.
        QCOMPARE(at("AT+CLCC\r"),
                 QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"+919812345678\",145\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->status()["call"].toString(), QStringLiteral("ringing"));
        const QString rest = line_->collect(
            [](const QString& t) { return t.endsWith(QStringLiteral("\r\nNO CARRIER\r\n")); },
            10000);
        QCOMPARE(rest, ring + QStringLiteral("\r\nNO CARRIER\r\n"));
        QCOMPARE(at("AT+CLCC\r"), Ok);
        QCOMPARE(sim_->transcript(QStringLiteral("ring")).size(), 2);
        QCOMPARE(sim_->transcript(QStringLiteral("hangup")).size(), 1);
    }

    void ringWithoutCallerId() {
        QVERIFY(startTextMode());
        // Caller identification off: RING only.
        QVERIFY(sim_->ring(1, Number, 200));
        QCOMPARE(line_->collect(
                     [](const QString& t) { return t.contains(QStringLiteral("NO CARRIER")); }),
                 QStringLiteral("\r\nRING\r\n\r\nNO CARRIER\r\n"));
        // A withheld number: RING only even with AT+CLIP=1; +CLCC has no number.
        QCOMPARE(at("AT+CLIP=1\r"), Ok);
        QVERIFY(sim_->ring(3, {}, 5000));
        QCOMPARE(line_->collect([](const QString& t) { return t.size() >= 8; }),
                 QStringLiteral("\r\nRING\r\n"));
        QCOMPARE(at("AT+CLCC\r"), QStringLiteral("\r\n+CLCC: 1,1,4,0,0,\"\",128\r\n\r\nOK\r\n"));
        // The caller hangs up early.
        QVERIFY(sim_->hangup());
        QCOMPARE(line_->collect(
                     [](const QString& t) { return t.contains(QStringLiteral("NO CARRIER")); }),
                 QStringLiteral("\r\nNO CARRIER\r\n"));
        QCOMPARE(sim_->command(QStringLiteral("hangup")), QStringLiteral("OK no call"));
        QVERIFY(!sim_->ring(0));
    }

    void clccWithSpaces() {
        QVERIFY(startTextMode({"--clcc-spaces"}));
        QVERIFY(sim_->ring(1, Number, 5000));
        line_->readFor(100);
        const QString answer = at("AT+CLCC\r");
        QCOMPARE(answer,
                 QStringLiteral("\r\n+CLCC: 1, 1, 4, 0, 0, \"+919812345678\", 145\r\n\r\nOK\r\n"));
        // Some phones put a blank after every comma; the number then starts 23 characters after
        // "+CLCC: ".
        const int start = answer.indexOf(QStringLiteral("+CLCC: ")) + 23;
        QCOMPARE(answer.mid(start, answer.indexOf(QLatin1Char('"'), start) - start), Number);
    }

    void answerAndHangUpByCommand() {
        QVERIFY(startTextMode());
        QCOMPARE(at("ATA\r"), QStringLiteral("\r\nNO CARRIER\r\n")); // nothing to answer
        QVERIFY(sim_->ring(5, Number, 5000));
        line_->readFor(100);
        QCOMPARE(at("ATA\r"), Ok);
        QCOMPARE(at("AT+CLCC\r"),
                 QStringLiteral("\r\n+CLCC: 1,1,0,0,0,\"+919812345678\",145\r\n\r\nOK\r\n"));
        QCOMPARE(at("ATH\r"), Ok);
        QCOMPARE(at("AT+CLCC\r"), Ok);
    }

    // ---- incoming SMS ----------------------------------------------------------------------

    void incomingSmsWithAnyCharacters() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CSCS=\"8859-1\"\r"), Ok); // every character below 256 as its byte
        const QString text =
            QStringLiteral("Quote \" comma , CR\r LF\n tab\t back\\slash \u00e9\u00ff and \u0001");
        QCOMPARE(sim_->deliverSms(Number, text, QStringLiteral("25/01/31,23:59:59-16")), 1);
        auto list = sim_->simMessages();
        QCOMPARE(list[0]["text"].toString(), text);
        QCOMPARE(list[0]["time"].toString(), QStringLiteral("25/01/31,23:59:59-16"));
        QCOMPARE(
            at("AT+CMGL=\"ALL\"\r\n"),
            QStringLiteral(
                "\r\n+CMGL: 1,\"REC UNREAD\",\"+919812345678\",\"\",\"25/01/31,23:59:59-16\"\r\n") +
                text + QStringLiteral("\r\n\r\nOK\r\n"));

        // Ctrl-Z is no SMS character, but a text holding one is kept as it is.
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("odd") + CtrlZ + QStringLiteral("byte")),
                 2);
        QCOMPARE(sim_->simMessages()[1]["text"].toString(),
                 QStringLiteral("odd") + CtrlZ + QStringLiteral("byte"));

        // Every byte value but Ctrl-Z round-trips through the SIM listing (in pieces that
        // each fit one message).
        QString all;
        for (int c = 1; c < 256; ++c)
            if (c != 26) all += QChar(c);
        QCOMPARE(at("AT+CMGD=1\r"), Ok);
        QCOMPARE(at("AT+CMGD=2\r"), Ok);
        for (int i = 0; i < all.size(); i += 64) {
            QVERIFY(sim_->deliverSms(Number, all.mid(i, 64)) > 0);
            const QString listing = at("AT+CMGL=\"ALL\"\r\n");
            QVERIFY(listing.contains(QStringLiteral("\r\n") + all.mid(i, 64) +
                                     QStringLiteral("\r\n\r\nOK\r\n")));
            QCOMPARE(at("AT+CMGD=1,4\r"), Ok);
        }

        // The received time defaults to now; a bad one is refused.
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("now")), 1);
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d$"))
                    .match(sim_->simMessages()[0]["time"].toString())
                    .hasMatch());
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("x"), QStringLiteral("yesterday")), -1);
        QCOMPARE(sim_->command(QStringLiteral("sms")).left(5), QStringLiteral("ERROR"));
    }

    void listingInEachCharacterSet() {
        QVERIFY(startTextMode());
        const QString text = QStringLiteral("5\u20ac [ok] @home \u00f1\u0416");
        QCOMPARE(sim_->deliverSms(QStringLiteral("+44123"), text,
                                  QStringLiteral("26/12/08,10:15:30+22")),
                 1);
        QCOMPARE(sim_->simMessages()[0]["text"].toString(), text);
        auto bytes = [](const char* b, int n) { return QString::fromLatin1(QByteArray(b, n)); };
        const struct {
            const char* set;
            QString number;
            QString text;
        } cases[] = {
            {"GSM", QStringLiteral("+44123"), bytes("5\x1b\x65 \x1b<ok\x1b> \x00home \x7d?", 19)},
            {"IRA", QStringLiteral("+44123"), QStringLiteral("5? [ok] @home ??")},
            {"8859-1", QStringLiteral("+44123"), QStringLiteral("5? [ok] @home \u00f1?")},
            {"PCCP437", QStringLiteral("+44123"), bytes("5? [ok] @home \xa4?", 16)},
            {"UCS2", QStringLiteral("002B00340034003100320033"),
             QStringLiteral("003520AC0020005B006F006B005D002000400068006F006D006500200"
                            "0F10416")},
            {"HEX", QStringLiteral("2B3434313233"),
             QStringLiteral("351B65201B3C6F6B1B3E2000686F6D65207D3F")},
        };
        for (const auto& c : cases) {
            QCOMPARE(at(QStringLiteral("AT+CSCS=\"%1\"\r").arg(QLatin1String(c.set))), Ok);
            QCOMPARE(at("AT+CMGL=\"ALL\"\r"),
                     QStringLiteral("\r\n+CMGL: 1,\"REC READ\",\"%1\",\"\",\"26/12/08,10:15:30+22\""
                                    "\r\n%2\r\n\r\nOK\r\n")
                         .arg(c.number, c.text)
                         .replace(QStringLiteral("REC READ"),
                                  QLatin1String(c.set) == QLatin1String("GSM")
                                      ? QStringLiteral("REC UNREAD")
                                      : QStringLiteral("REC READ")));
        }
    }

    void textEntryInEachCharacterSet() {
        QVERIFY(startTextMode());
        auto sentText = [&]() {
            return sim_->transcript(QStringLiteral("sent")).last()["text"].toString();
        };
        // GSM: "@" is 0, 8 (BS) is "ò"; an extension character cannot be typed (ESC ends
        // the text), but HEX carries it: the euro is 1B65 there.
        QCOMPARE(at("AT+CSCS=\"GSM\"\r"), Ok);
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QString::fromLatin1(QByteArray("a\x00\x08", 3)) + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(sentText(), QStringLiteral("a@\u00f2"));
        // 80 euros are 160 septets, one more is too many.
        QCOMPARE(at("AT+CSCS=\"HEX\"\r"), Ok);
        QCOMPARE(at("AT+CMGS=\"313233\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("1B65").repeated(80) + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 2\r\n\r\nOK\r\n"));
        QCOMPARE(sentText(), QString(80, QChar(0x20ac)));
        QCOMPARE(at("AT+CMGS=\"313233\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("1B65").repeated(80) + QStringLiteral("78") + CtrlZ), cms(305));

        // UCS2: number and text in hex of UTF-16; bad hex is refused.
        QCOMPARE(at("AT+CSCS=\"UCS2\"\r"), Ok);
        QCOMPARE(at("AT+CMGS=\"002B003400340031\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("0416D83DDE00") + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 3\r\n\r\nOK\r\n"));
        QCOMPARE(sentText(), QStringLiteral("\u0416\U0001F600"));
        QCOMPARE(sim_->transcript(QStringLiteral("sent")).last()["number"].toString(),
                 QStringLiteral("+441"));
        QCOMPARE(at("AT+CMGS=\"+441\"\r"), Error);
        QCOMPARE(at("AT+CMGS=\"0031\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("00G1") + CtrlZ), cms(305));
        // Latin-1 byte for byte; IRA has no 8-bit characters.
        QCOMPARE(at("AT+CSCS=\"8859-1\"\r"), Ok);
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"123\"\rcaf\u00e9") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CSCS=\"IRA\"\r"), Ok);
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"123\"\rcaf\u00e9") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 2\r\n\r\nOK\r\n"));
        const auto sim = sim_->simMessages();
        QCOMPARE(sim[0]["text"].toString(), QStringLiteral("caf\u00e9"));
        QCOMPARE(sim[1]["text"].toString(), QStringLiteral("caf?"));
    }

    void newMessageIndication() {
        QVERIFY(startTextMode());
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("quiet")), 1);
        QCOMPARE(line_->readFor(150), QString()); // AT+CNMI=0: no indication
        QCOMPARE(at("AT+CNMI=2,1,0,0,0\r"), Ok);
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("told")), 2);
        QCOMPARE(line_->collect([](const QString& t) {
            return t.endsWith(QStringLiteral("\r\n")) && t.size() > 2;
        }),
                 QStringLiteral("\r\n+CMTI: \"SM\",2\r\n"));
        QCOMPARE(at("AT+CNMI?\r"), QStringLiteral("\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n"));
        // AT+CNMI=x,2: shown at once, not stored.
        QCOMPARE(at("AT+CNMI=2,2\r"), Ok);
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("direct"),
                                  QStringLiteral("26/12/08,10:15:30+22")),
                 0);
        QCOMPARE(line_->collect(
                     [](const QString& t) { return t.endsWith(QStringLiteral("direct\r\n")); }),
                 QStringLiteral(
                     "\r\n+CMT: \"+919812345678\",\"\",\"26/12/08,10:15:30+22\"\r\ndirect\r\n"));
        QCOMPARE(sim_->simMessages().size(), 2);
    }

    // ---- text entry ends at ESC; long and Unicode messages --------------------------------

    void escapeAbortsTheTextInEveryCharacterSet() {
        // ESC + 0x65 is the euro in the GSM alphabet, but in text entry ESC aborts the
        // message whatever the set: nothing is sent or stored, OK, and what follows the
        // ESC is a command line ("e" is noise before AT).
        QVERIFY(startTextMode());
        const struct {
            int cmgf;
            const char* set;
            const char* command;
            const char* text;
            QString dropped;
        } cases[] = {
            {1, "GSM", "AT+CMGS=\"123\"", "price 5", QStringLiteral("price 5")},
            {1, "IRA", "AT+CMGW=\"123\"", "draft", QStringLiteral("draft")},
            {1, "UCS2", "AT+CMGS=\"003100320033\"", "0416", QStringLiteral("\u0416")},
            {1, "HEX", "AT+CMGS=\"313233\"", "3520", QStringLiteral("5 ")},
            {0, "GSM", "AT+CMGS=23", "0011000B91", QStringLiteral("0011000B91")},
        };
        for (const auto& c : cases) {
            QCOMPARE(at(QStringLiteral("AT+CMGF=%1;+CSCS=\"%2\"\r")
                            .arg(c.cmgf)
                            .arg(QLatin1String(c.set))),
                     Ok);
            port_->output(QLatin1String(c.command) + QStringLiteral("\r") + QLatin1String(c.text) +
                          Esc +
                          QStringLiteral("\x65"
                                         "AT+CGMM\r"));
            QCOMPARE(
                line_->collect([](const QString& t) { return t.count(QStringLiteral("OK")) == 2; }),
                QStringLiteral("\r\n> \r\nOK\r\n\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
            const auto dropped = sim_->transcript(QStringLiteral("text-dropped")).last();
            QCOMPARE(dropped["reason"].toString(), QStringLiteral("esc"));
            QCOMPARE(dropped["text"].toString(), c.dropped);
            QCOMPARE(sim_->commands().last(), QStringLiteral("eAT+CGMM"));
        }
        QCOMPARE(sim_->transcript(QStringLiteral("text-dropped")).size(), 5);
        QVERIFY(sim_->transcript(QStringLiteral("sent")).isEmpty());
        QVERIFY(sim_->simMessages().isEmpty());
    }

    void longAndUnicodeMessagesArriveInParts() {
        QVERIFY(startTextMode({"--slots", "8"}));
        const QString euro(QChar(0x20ac)), zhe(QChar(0x0416)), smile = QStringLiteral("\U0001F600");
        const struct {
            QString text;
            QStringList parts; // as a real network cuts them: never inside a character
            sim::Coding coding;
        } cases[] = {
            {QString(152, QLatin1Char('a')) + euro + QString(100, QLatin1Char('b')),
             {QString(152, QLatin1Char('a')), euro + QString(100, QLatin1Char('b'))},
             sim::Coding::Gsm7},
            {zhe.repeated(66) + smile + zhe.repeated(10),
             {zhe.repeated(66), smile + zhe.repeated(10)},
             sim::Coding::Ucs2},
            {QStringLiteral("Hi ") + smile, {QStringLiteral("Hi ") + smile}, sim::Coding::Ucs2},
        };
        // --split is what happens anyway; it is still accepted.
        QCOMPARE(sim_->command(QStringLiteral("sms --split +447700900123 ") +
                               SimProcess::quote(cases[0].text)),
                 QStringLiteral("OK 1,2"));
        QCOMPARE(
            sim_->command(QStringLiteral("sms +447700900123 ") + SimProcess::quote(cases[1].text)),
            QStringLiteral("OK 3,4"));
        QCOMPARE(sim_->deliverSms(QStringLiteral("+447700900123"), cases[2].text), 5);
        // Three parts do not fit the three free slots: nothing is stored.
        QCOMPARE(sim_->command(QStringLiteral("sms +447700900123 ") +
                               QString(3 * 153 + 1, QLatin1Char('x'))),
                 QStringLiteral("ERROR sim full"));

        // In text mode each part is a message of its own, cut to its size.
        QStringList texts;
        for (const auto& m : sim_->simMessages())
            texts << m["text"].toString();
        QCOMPARE(texts, cases[0].parts + cases[1].parts + cases[2].parts);

        // In PDU mode each part is an SMS-DELIVER with its header and coding.
        QCOMPARE(at("AT+CMGF=0\r"), Ok);
        const QStringList lines = at("AT+CMGL=4\r").split(QStringLiteral("\r\n"));
        QList<sim::Tpdu> pdus;
        for (int i = 0; i + 1 < lines.size(); ++i) {
            if (!lines[i].startsWith(QStringLiteral("+CMGL: "))) continue;
            sim::Tpdu t;
            std::string error;
            QVERIFY2(sim::parsePdu(lines[i + 1].toStdString(), lines[i].section(u',', 3).toInt(), t,
                                   error),
                     error.c_str());
            pdus << t;
        }
        QCOMPARE(pdus.size(), 5);
        int k = 0;
        for (const auto& c : cases) {
            QString joined;
            for (int part = 1; part <= c.parts.size(); ++part, ++k) {
                const sim::Tpdu& t = pdus[k];
                QVERIFY(t.deliver && t.coding == c.coding);
                QCOMPARE(QString::fromStdString(t.text), c.parts[part - 1]);
                joined += QString::fromStdString(t.text);
                const bool concatenated = c.parts.size() > 1;
                QCOMPARE(bool(t.firstOctet & 0x40), concatenated); // TP-UDHI
                if (!concatenated) continue;
                QCOMPARE(t.udh.size(), size_t(5)); // IEI 00, length 03: 8-bit reference
                QCOMPARE(t.udh.substr(0, 2), std::string("\x00\x03", 2));
                QCOMPARE(t.concat.ref, pdus[k - part + 1].concat.ref);
                QCOMPARE(t.concat.parts, int(c.parts.size()));
                QCOMPARE(t.concat.part, part);
            }
            QCOMPARE(joined, c.text);
        }
        QVERIFY(pdus[0].concat.ref != pdus[2].concat.ref);
    }

    // ---- PDU-mode sending ---------------------------------------------------------------

    void pduSendsCheckedAsARealModemDoes() {
        QVERIFY(start({"--first-ref", "254"}));
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        const QString hello = QStringLiteral("0011000B916407281553F80000AA0AE8329BFD4697D9EC37");
        // UCS2 parts of one message (reference 0x42): an emoji and a capital zhe, then "!".
        const QString part1 =
            QStringLiteral("0041000C914477000910320008 0C050003420201D83DDE000416").remove(u' ');
        const QString part2 = QStringLiteral("0041000C914477000910320008080500034202020021");
        const struct {
            int length;
            QString pdu;
            QString answer;
        } cases[] = {
            {23, hello, QStringLiteral("+CMGS: 254")},
            {23, hello.mid(2), {}},                                          // no SMSC part
            {22, hello, {}},                                                 // length one short
            {24, hello, {}},                                                 // length one long
            {23, hello.chopped(1), {}},                                      // odd digits
            {23, hello.chopped(1) + QLatin1Char('G'), {}},                   // no hex digit
            {23, hello.left(28) + QStringLiteral("0B") + hello.mid(30), {}}, // UDL past the data
            {23, hello.left(28) + QStringLiteral("09") + hello.mid(30), {}}, // UDL short of it
            {35,
             QStringLiteral("000410D0D6664B18742E934E00006221803105154010D9775D0E7A52A1A0F41C44BBC5"
                            "62"),
             {}}, // an SMS-DELIVER
            {25, part1, QStringLiteral("+CMGS: 255")},
            {21, part2, QStringLiteral("+CMGS: 0")}, // references count modulo 256
        };
        for (const auto& c : cases) {
            QCOMPARE(at(QStringLiteral("AT+CMGS=%1\r").arg(c.length)), QStringLiteral("\r\n> "));
            QCOMPARE(at(c.pdu + CtrlZ), c.answer.isEmpty()
                                            ? cms(304)
                                            : QStringLiteral("\r\n%1\r\n\r\nOK\r\n").arg(c.answer));
        }
        QCOMPARE(sim_->transcript(QStringLiteral("pdu-refused")).size(), 8);
        // Stored and sent from the SIM: a new reference.
        QCOMPARE(at(QStringLiteral("AT+CMGW=25\r")), QStringLiteral("\r\n> "));
        QCOMPARE(at(part1 + CtrlZ), QStringLiteral("\r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CMSS=1\r"), QStringLiteral("\r\n+CMSS: 1\r\n\r\nOK\r\n"));

        const auto sent = sim_->transcript(QStringLiteral("sent"));
        QCOMPARE(sent.size(), 4);
        const struct {
            QString text;
            int ref, part;
        } expected[] = {{QStringLiteral("hellohello"), 254, 0},
                        {QStringLiteral("\U0001F600\u0416"), 255, 1},
                        {QStringLiteral("!"), 0, 2},
                        {QStringLiteral("\U0001F600\u0416"), 1, 1}};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(sent[i]["text"].toString(), expected[i].text);
            QCOMPARE(sent[i]["ref"].toInt(), expected[i].ref);
            QCOMPARE(sent[i]["part"].toInt(), expected[i].part);
            if (i == 0) continue;
            QCOMPARE(sent[i]["number"].toString(), QStringLiteral("+447700900123"));
            QCOMPARE(sent[i]["concatRef"].toInt(), 0x42);
            QCOMPARE(sent[i]["parts"].toInt(), 2);
        }
        QCOMPARE(sent[3]["via"].toString(), QStringLiteral("CMSS"));
    }

    // ---- status reports ------------------------------------------------------------------

    void statusReportsInTextMode() {
        QVERIFY(startTextMode());
        QCOMPARE(at("AT+CNMI=2,1,0,1,0\r"), Ok);
        // Asked for with the first octet of AT+CSMP only (0x20); 17 asks for none.
        QCOMPARE(at("AT+CMGS=\"+447700900120\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QStringLiteral("no report") + CtrlZ),
                 QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n"));
        QCOMPARE(line_->readFor(300), QString());
        QCOMPARE(at("AT+CSMP=49,167,0,0\r"), Ok);
        QCOMPARE(at("AT+CSMP?\r"), QStringLiteral("\r\n+CSMP: 49,167,0,0\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CSMP=256\r"), Error);

        QVERIFY(sim_->ok(QStringLiteral("fate +447700900124 failed 0x45")));
        QVERIFY(sim_->ok(QStringLiteral("fate +447700900125 never")));
        QVERIFY(sim_->ok(QStringLiteral("fate +447700900126 delivered 1500")));
        QVERIFY(!sim_->ok(QStringLiteral("fate +447700900127 failed 0x10")));
        QVERIFY(!sim_->ok(QStringLiteral("fate +447700900127 sometimes")));
        const QRegularExpression cds(QStringLiteral(
            "\r\n\\+CDS: "
            "6,(\\d+),\"(\\+\\d+)\",145,\"(\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d[+-]"
            "\\d\\d)\",\"(\\d\\d/\\d\\d/\\d\\d,\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d)\",(\\d+)\r\n"));
        const struct {
            const char* number;
            int status; // -1: no report comes
            bool later;
        } cases[] = {{"+447700900123", 0, false},
                     {"+447700900124", 0x45, false},
                     {"+447700900125", -1, false},
                     {"+447700900126", 0, true}};
        int ref = 2;
        for (const auto& c : cases) {
            const QString answer = QStringLiteral("\r\n+CMGS: %1\r\n\r\nOK\r\n").arg(ref);
            port_->output(QStringLiteral("AT+CMGS=\"%1\"\rhello").arg(QLatin1String(c.number)) +
                          CtrlZ);
            QString got = line_->collect([&](const QString& t) { return t.contains(answer); });
            QVERIFY2(got.startsWith(QStringLiteral("\r\n> ") + answer), qPrintable(got));
            if (c.status < 0 || c.later) QCOMPARE(line_->readFor(300), QString());
            if (c.status >= 0) {
                got +=
                    line_->collect([&](const QString& t) { return cds.match(got + t).hasMatch(); });
                const auto m = cds.match(got);
                QVERIFY2(m.hasMatch(), qPrintable(got));
                QCOMPARE(m.captured(1).toInt(), ref); // the reference +CMGS gave
                QCOMPARE(m.captured(2), QLatin1String(c.number));
                QCOMPARE(m.captured(5).toInt(), c.status);
            }
            ++ref;
        }
        QCOMPARE(at("AT\r"), Ok);
        const auto reports = sim_->transcript(QStringLiteral("report"));
        QCOMPARE(reports.size(), 3);
        QCOMPARE(reports[1]["number"].toString(), QStringLiteral("+447700900124"));
        QCOMPARE(reports[1]["ref"].toInt(), 3);
        QCOMPARE(reports[1]["status"].toInt(), 0x45);
        QCOMPARE(reports[1]["fate"].toString(), QStringLiteral("failed"));
        QCOMPARE(reports[1]["route"].toString(), QStringLiteral("cds"));
        QVERIFY(!reports[1]["deliveredAt"].toString().isEmpty());

        // <ds> 2: kept on the SIM (+CDSI), listed without a text line, read, deleted. A
        // message stored with the bit set asks for a report when sent from the SIM.
        QCOMPARE(at("AT+CNMI=2,1,0,2,0\r"), Ok);
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"+447700900124\"\rkept") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        port_->output(QStringLiteral("AT+CMSS=1\r"));
        QCOMPARE(
            line_->collect([](const QString& t) { return t.endsWith(QStringLiteral("\",2\r\n")); }),
            QStringLiteral("\r\n+CMSS: 6\r\n\r\nOK\r\n\r\n+CDSI: \"SM\",2\r\n"));
        const QRegularExpression listed(
            QStringLiteral("^\r\n\\+CMGL: 2,\"REC "
                           "UNREAD\",6,6,\"\\+447700900124\",145,\"[^\"]+\",\"[^\"]+\",69\r\n"
                           "\r\nOK\r\n$"));
        const QString listing = at("AT+CMGL=\"REC UNREAD\"\r");
        QVERIFY2(listed.match(listing).hasMatch(), qPrintable(listing));
        QVERIFY(at("AT+CMGR=2\r").startsWith(QStringLiteral("\r\n+CMGR: \"REC READ\",6,6,")));
        const auto onSim = sim_->simMessages();
        QCOMPARE(onSim[1]["kind"].toString(), QStringLiteral("report"));
        QCOMPARE(onSim[1]["status"].toInt(), 0x45);
        QCOMPARE(at("AT+CMGD=2\r"), Ok);
        QCOMPARE(sim_->simMessages().size(), 1);

        // <ds> 0: the report reaches nobody; the transcript still tells.
        QCOMPARE(at("AT+CNMI=2,1,0,0,0\r"), Ok);
        QCOMPARE(at("AT+CMSS=1\r"), QStringLiteral("\r\n+CMSS: 7\r\n\r\nOK\r\n"));
        QVERIFY(sim_->waitForEvents(QStringLiteral("report"), 5));
        QCOMPARE(sim_->transcript(QStringLiteral("report")).last()["route"].toString(),
                 QStringLiteral("none"));
        QVERIFY(sim_->ok(QStringLiteral("fate off")));
        QCOMPARE(sim_->status()["fates"].toInt(), 0);
    }

    void statusReportsInPduModeAndInsideAnswers() {
        QVERIFY(start());
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("AT+CNMI=2,1,0,1,0\r"), Ok);
        // TP-SRR (0x20) in the PDU's first octet asks for the report.
        const QString hello = QStringLiteral("0031000B916407281553F80000AA0AE8329BFD4697D9EC37");
        auto report = [](const QString& length, const QString& hex) {
            sim::Tpdu t;
            std::string error;
            const bool ok = sim::parsePdu(hex.toStdString(), length.toInt(), t, error);
            return ok && t.statusReport ? t : sim::Tpdu{};
        };
        QCOMPARE(at("AT+CMGS=23\r"), QStringLiteral("\r\n> "));
        port_->output(hello + CtrlZ);
        const QRegularExpression cds(
            QStringLiteral("\r\n\\+CMGS: 1\r\n\r\nOK\r\n\r\n\\+CDS: (\\d+)\r\n([0-9A-F]+)\r\n$"));
        const QString got =
            line_->collect([&](const QString& text) { return cds.match(text).hasMatch(); });
        const auto m = cds.match(got);
        QVERIFY2(m.hasMatch(), qPrintable(got));
        sim::Tpdu t = report(m.captured(1), m.captured(2));
        QVERIFY(t.statusReport);
        QCOMPARE(t.mr, 1);
        QCOMPARE(t.number, std::string("+46708251358"));
        QCOMPARE(t.st, 0);

        // A report that falls due goes out in the middle of the next answer: here between
        // the two entries of a listing.
        QVERIFY(sim_->ok(QStringLiteral("reports-inside on")));
        QVERIFY(sim_->ok(QStringLiteral("fate * failed 0x46")));
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("first")), 1);
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("second")), 2);
        QCOMPARE(at("AT+CMGS=23\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(hello + CtrlZ), QStringLiteral("\r\n+CMGS: 2\r\n\r\nOK\r\n"));
        QVERIFY(sim_->waitForEvents(QStringLiteral("report"), 2));
        const QStringList lines = at("AT+CMGL=4\r").split(QStringLiteral("\r\n"));
        const int cdsAt = lines.indexOf(QRegularExpression(QStringLiteral("^\\+CDS: \\d+$")));
        QVERIFY2(cdsAt > 0, qPrintable(lines.join(u'|')));
        QVERIFY(lines[cdsAt - 3].startsWith(QStringLiteral("+CMGL: 1,")));
        QVERIFY(lines[cdsAt + 2].startsWith(QStringLiteral("+CMGL: 2,")));
        t = report(lines[cdsAt].mid(6), lines[cdsAt + 1]);
        QCOMPARE(t.mr, 2);
        QCOMPARE(t.st, 0x46);
        QVERIFY(sim_->transcript(QStringLiteral("report")).last()["inside"].toBool());

        // Stored (<ds> 2) and listed as SMS-STATUS-REPORT PDUs.
        QVERIFY(sim_->ok(QStringLiteral("reports-inside off")));
        QCOMPARE(at("AT+CNMI=2,1,0,2,0;+CMGD=1,4\r"), Ok);
        port_->output(QStringLiteral("AT+CMGS=23\r") + hello + CtrlZ);
        QCOMPARE(line_->collect(
                     [](const QString& text) { return text.endsWith(QStringLiteral("\",1\r\n")); }),
                 QStringLiteral("\r\n> \r\n+CMGS: 3\r\n\r\nOK\r\n\r\n+CDSI: \"SM\",1\r\n"));
        const QStringList listing = at("AT+CMGL=4\r").split(QStringLiteral("\r\n"));
        QVERIFY(listing[1].startsWith(QStringLiteral("+CMGL: 1,0,,")));
        t = report(listing[1].section(u',', 3), listing[2]);
        QCOMPARE(t.mr, 3);
        QCOMPARE(t.st, 0x46);
    }

    // ---- an ordinary AT client -----------------------------------------------------------

    void ordinaryClient() {
        QVERIFY(start());
        // CR LF endings, lower case, chained commands, queries.
        QCOMPARE(at("ATE0\r\n"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("at\r\n"), Ok);
        QCOMPARE(at("at+cgmi\r\n"), QStringLiteral("\r\nSIMCOM_Ltd\r\n\r\nOK\r\n"));
        QCOMPARE(at("ATE0V1Q0\r"), Ok);
        QCOMPARE(at("AT+CMGF=1;+CLIP=1\r"), Ok);
        QCOMPARE(at("AT+CLIP?\r"), QStringLiteral("\r\n+CLIP: 1,1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CGMI;+CGMM\r"),
                 QStringLiteral("\r\nSIMCOM_Ltd\r\n\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT + CMGF = 1\r"), Ok); // blanks do not count
        QCOMPARE(at("ATI\r"),
                 QStringLiteral(
                     "\r\nSIMCOM_Ltd SIMCOM_SIM800\r\nRevision:1418B04SIM800L24\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CPIN?\r"), QStringLiteral("\r\n+CPIN: READY\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CSQ\r"), QStringLiteral("\r\n+CSQ: 20,0\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CREG?\r"), QStringLiteral("\r\n+CREG: 0,1\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CPMS=\"SM\"\r"), QStringLiteral("\r\n+CPMS: 0,30,0,30,0,30\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT+CPMS=\"ME\"\r"), cms(302));
        QCOMPARE(at("ATS3?\r"), QStringLiteral("\r\n013\r\n\r\nOK\r\n"));
        QCOMPARE(at("AT&F\r"), Ok);
        QCOMPARE(at("AT\r"), QStringLiteral("AT\r\r\nOK\r\n")); // factory settings: echo on
        QCOMPARE(at("ATZ\r"), QStringLiteral("ATZ\r\r\nOK\r\n"));
        // Numeric results with ATV0.
        QCOMPARE(at("ATE0V0\r", 300), QStringLiteral("ATE0V0\r0\r"));
        QCOMPARE(at("AT\r", 300), QStringLiteral("0\r"));
        QCOMPARE(at("AT+BOGUS\r", 300), QStringLiteral("4\r"));
        QCOMPARE(at("ATV1\r"), Ok);
        // A/ repeats the last command line.
        QCOMPARE(at("AT+CGMM\r"), QStringLiteral("\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
        QCOMPARE(at("A/"), QStringLiteral("\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
    }

    void unknownAndMalformedCommands() {
        QVERIFY(startTextMode());
        for (const char* c : {"AT+FOO\r", "ATX9\r", "AT+CMGF\r", "AT+CMGF=\r", "AT+CMGF=1,2\r",
                              "AT+CMGD=\"1\"\r", "AT+CSCS=GSM\r", "AT+CMGS=\"123\r", "AT+\r",
                              "AT+CGMI=5\r", "ATE2\r", "hello\r", "AT#X\r"})
            QCOMPARE(at(c), Error);
        QCOMPARE(at("AT\r"), Ok);
        // A bare CR is no command: no answer.
        QCOMPARE(at("\r", 200), QString());
        QCOMPARE(at("AT\r"), Ok);
    }

    // ---- bad input -----------------------------------------------------------------------

    void randomBytes() {
        QVERIFY(startTextMode());
        QRandomGenerator rng(20260108);
        for (int round = 0; round < 20; ++round) {
            QString junk;
            for (int i = 0; i < 2000; ++i)
                junk += QChar(rng.bounded(256));
            port_->output(junk);
            QTest::qWait(5);
        }
        line_->readFor(300);
        // Whatever state the junk left (a text entry, half a line), ESC and a CR end it.
        port_->output(QString(Esc) + QStringLiteral("\r"));
        line_->readFor(300);
        QCOMPARE(at("ATE0V1Q0\r").right(6), Ok);
        QCOMPARE(at("AT\r"), Ok);
        QVERIFY(sim_->isRunning());
        QVERIFY(sim_->ok(QStringLiteral("ping")));

        // PDU mode: random hex after a send or a store, and junk PDUs of any length.
        QCOMPARE(at("AT+CMGF=0\r"), Ok);
        for (int round = 0; round < 200; ++round) {
            QString hex;
            for (int i = rng.bounded(120); i > 0; --i)
                hex += QStringLiteral("%1").arg(rng.bounded(256), 2, 16, QLatin1Char('0'));
            const QString answer = at(QStringLiteral("AT+CMG%1=%2\r%3")
                                          .arg(round % 2 ? QLatin1Char('S') : QLatin1Char('W'))
                                          .arg(rng.bounded(1, 165))
                                          .arg(hex) +
                                      CtrlZ);
            QVERIFY2(answer.endsWith(cms(304)) || answer.endsWith(QStringLiteral("OK\r\n")),
                     qPrintable(answer));
        }
        QCOMPARE(at("AT\r"), Ok);
        QVERIFY(sim_->ok(QStringLiteral("ping")));
    }

    void overlongLine() {
        QVERIFY(startTextMode());
        QCOMPARE(at(QString(5000, QLatin1Char('A')) + QStringLiteral("\r")), Error);
        QCOMPARE(at(QStringLiteral("AT+CGMI") + QString(10000, QLatin1Char(' ')) +
                    QStringLiteral("X\r")),
                 Error);
        QCOMPARE(at("AT\r"), Ok);
        const auto cmds = sim_->transcript(QStringLiteral("cmd"));
        QVERIFY(cmds[cmds.size() - 2]["overflow"].toBool());
        // A line just under the limit is fine.
        QCOMPARE(at(QStringLiteral("AT") + QString(4000, QLatin1Char(' ')) + QStringLiteral("\r")),
                 Ok);
    }

    void textWithoutCtrlZ() {
        QVERIFY(startTextMode({"--text-timeout", "2000"}));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at("a text that never ends", 5000), Error);
        QVERIFY(timer.elapsed() >= 1900);
        QCOMPARE(at("AT\r"), Ok);
        QCOMPARE(sim_->transcript(QStringLiteral("text-dropped")).size(), 1);
        QVERIFY(sim_->transcript(QStringLiteral("sent")).isEmpty());
        // Bytes keep the entry alive: the limit counts from the last one.
        QCOMPARE(at("AT+CMGW=\"123\"\r"), QStringLiteral("\r\n> "));
        for (int i = 0; i < 4; ++i) {
            port_->output(QStringLiteral("x"));
            QTest::qWait(200);
        }
        QCOMPARE(at(QString(CtrlZ)), QStringLiteral("\r\n+CMGW: 1\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->simMessages()[0]["text"].toString(), QStringLiteral("xxxx"));
        // A text beyond the buffer is refused when it ends.
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        QCOMPARE(at(QString(6000, QLatin1Char('y')) + CtrlZ), cms(305));
    }

    // ---- slow, silent, unplugged ---------------------------------------------------------

    void slowAnswers() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->setDelay(400));
        QElapsedTimer timer;
        timer.start();
        port_->discardInput();
        port_->output(QStringLiteral("AT\r"));
        QCOMPARE(line_->readFor(200), QString());
        QCOMPARE(line_->collect(AtLine::isFinal), Ok);
        QVERIFY(timer.elapsed() >= 380);
        // Commands written meanwhile wait their turn.
        timer.restart();
        port_->output(QStringLiteral("AT+CGMI\rAT+CGMM\r"));
        const QString both = line_->collect(
            [](const QString& t) { return t.count(QStringLiteral("OK")) == 2; }, 3000);
        QCOMPARE(both,
                 QStringLiteral("\r\nSIMCOM_Ltd\r\n\r\nOK\r\n\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
        QVERIFY(timer.elapsed() >= 780);
        QVERIFY(sim_->setDelay(0));
        QCOMPARE(at("AT\r"), Ok);
    }

    // The network's time to take a message: a send's result comes that long after the
    // text (or AT+CMSS), the modem reading nothing meanwhile; the modem's own answers and
    // refusals do not wait for it. Told apart by the simulator's own clock (transcript).
    void networkDelayHoldsTheSendsResult() {
        QVERIFY(startTextMode({"--network-delay", "700"}));
        QCOMPARE(sim_->status()["networkDelay"].toInt(), 700);
        auto cmdAt = [&](const QString& text) {
            for (const QJsonObject& c : sim_->transcript(QStringLiteral("cmd")))
                if (c["text"].toString() == text) return c["ms"].toInteger();
            return qint64(-1);
        };
        QCOMPARE(at("AT+CMGS=\"+919812345678\"\r"), QStringLiteral("\r\n> "));
        // A command written right after the text waits for the send's result.
        port_->output(QStringLiteral("Hello") + CtrlZ + QStringLiteral("AT+CGMI\r"));
        QCOMPARE(line_->collect([](const QString& t) { return t.count(QStringLiteral("OK")) == 2; },
                                5000),
                 QStringLiteral("\r\n+CMGS: 1\r\n\r\nOK\r\n\r\nSIMCOM_Ltd\r\n\r\nOK\r\n"));
        const qint64 sentAt = sim_->transcript(QStringLiteral("sent")).value(0)["ms"].toInteger();
        QVERIFY(cmdAt(QStringLiteral("AT+CGMI")) >= sentAt + 700);

        // Stored at once, sent from the SIM after the delay; the modem's own refusal at once.
        QCOMPARE(at(QStringLiteral("AT+CMGW=\"123\"\rstored") + CtrlZ),
                 QStringLiteral("\r\n> \r\n+CMGW: 1\r\n\r\nOK\r\n"));
        port_->output(QStringLiteral("AT+CMSS=1\rAT+CGMM\r"));
        QCOMPARE(line_->collect([](const QString& t) { return t.count(QStringLiteral("OK")) == 2; },
                                5000),
                 QStringLiteral("\r\n+CMSS: 2\r\n\r\nOK\r\n\r\nSIMCOM_SIM800\r\n\r\nOK\r\n"));
        QVERIFY(cmdAt(QStringLiteral("AT+CGMM")) >= cmdAt(QStringLiteral("AT+CMSS=1")) + 700);
        port_->output(QStringLiteral("AT+CMSS=9\rAT+CGSN\r"));
        QVERIFY(line_->collect([](const QString& t) { return t.contains(QStringLiteral("OK")); },
                               5000)
                    .startsWith(cms(321)));
        QVERIFY(cmdAt(QStringLiteral("AT+CGSN")) < cmdAt(QStringLiteral("AT+CMSS=9")) + 700);

        // The network's refusal comes after the delay too; without a delay all at once.
        QVERIFY(sim_->rejectSends(331));
        QCOMPARE(at("AT+CMGS=\"123\"\r"), QStringLiteral("\r\n> "));
        port_->output(QStringLiteral("refused") + CtrlZ + QStringLiteral("AT+CSQ\r"));
        QVERIFY(line_->collect([](const QString& t) { return t.contains(QStringLiteral("OK")); },
                               5000)
                    .startsWith(cms(331)));
        QVERIFY(cmdAt(QStringLiteral("AT+CSQ")) >=
                sim_->transcript(QStringLiteral("rejected")).value(0)["ms"].toInteger() + 700);
        QVERIFY(sim_->rejectSends(0));
        QVERIFY(sim_->command(QStringLiteral("network-delay soon")).startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->ok(QStringLiteral("network-delay 0")));
        QCOMPARE(sim_->status()["networkDelay"].toInt(), 0);
        QCOMPARE(at(QStringLiteral("AT+CMSS=1\r")), QStringLiteral("\r\n+CMSS: 3\r\n\r\nOK\r\n"));
    }

    void startsSlow() {
        QVERIFY(startTextMode({"--delay", "300"}));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(at("AT\r"), Ok);
        QVERIFY(timer.elapsed() >= 280);
    }

    void silentModem() {
        QVERIFY(startTextMode());
        QVERIFY(sim_->setSilent(true));
        QCOMPARE(at("AT\r", 400), QString());
        QCOMPARE(at("AT+CMGF=0\r", 200), QString());
        QVERIFY(sim_->ring(1, Number, 100));
        QCOMPARE(line_->readFor(300), QString());
        QVERIFY(sim_->setSilent(false));
        QCOMPARE(at("AT\r"), Ok);
        // Commands were not carried out while silent.
        QCOMPARE(sim_->status()["cmgf"].toInt(), 1);
        QCOMPARE(sim_->transcript(QStringLiteral("cmd")).at(2)["result"].toString(),
                 QStringLiteral("silent"));
    }

    void unplugAndPlugBack() {
        QVERIFY(startTextMode());
        const QString firstPty = sim_->status()["pty"].toString();
        QCOMPARE(sim_->deliverSms(Number, QStringLiteral("kept")), 1);
        // A call ringing when the modem goes ends with it.
        QCOMPARE(sim_->command(QStringLiteral("ring 5 +447700900123 1000")),
                 QStringLiteral("OK ringing"));
        QVERIFY(sim_->unplug());
        QCOMPARE(sim_->transcript(QStringLiteral("hangup")).size(), 1);
        QVERIFY(!QFileInfo::exists(sim_->linkPath()));
        QTRY_VERIFY(!port_->portOpen());
        QCOMPARE(sim_->command(QStringLiteral("unplug")).left(5), QStringLiteral("ERROR"));
        QCOMPARE(sim_->command(QStringLiteral("ring 1")).left(5), QStringLiteral("ERROR"));
        QVERIFY(!sim_->status()["plugged"].toBool());

        QVERIFY(sim_->plug());
        QVERIFY(QFileInfo::exists(sim_->linkPath()));
        QVERIFY(sim_->status()["plugged"].toBool());
        port_->setPortOpen(true);
        // A new power-up: echo on and PDU mode again; the SIM kept its message.
        QCOMPARE(at("AT\r"), QStringLiteral("AT\r\r\nOK\r\n"));
        QCOMPARE(at("ATE0\r"), QStringLiteral("ATE0\r\r\nOK\r\n"));
        QCOMPARE(at("AT+CMGF?\r"), QStringLiteral("\r\n+CMGF: 0\r\n\r\nOK\r\n"));
        QCOMPARE(sim_->simMessages().size(), 1);
        QVERIFY(!sim_->status()["pty"].toString().isEmpty());
        Q_UNUSED(firstPty);
    }

    void reopenKeepsTheModem() {
        QVERIFY(startTextMode());
        for (int i = 0; i < 5; ++i) {
            port_->setPortOpen(false);
            port_->setPortOpen(true);
            QCOMPARE(at("AT\r"), Ok); // settings stay: echo still off
        }
    }

    // ---- control channel and transcript --------------------------------------------------

    void controlChannel() {
        QVERIFY(start());
        QCOMPARE(sim_->command(QStringLiteral("ping")), QStringLiteral("OK pong"));
        QVERIFY(sim_->command(QStringLiteral("help")).startsWith(QStringLiteral("OK ")));
        QVERIFY(sim_->command(QStringLiteral("frobnicate")).startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->command(QStringLiteral("sms \"unterminated"))
                    .startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->command(QStringLiteral("sms 123 \\xZZ")).startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->command(QStringLiteral("delay soon")).startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->command(QStringLiteral("silent maybe")).startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->command(QStringLiteral("ring x")).startsWith(QStringLiteral("ERROR")));
        QVERIFY(sim_->command(QStringLiteral("delete 5")).startsWith(QStringLiteral("ERROR")));
        // Text as the rest of the line, escapes resolved; options before the number.
        QCOMPARE(sim_->command(QStringLiteral("sms +44123 Hello there,\\tfriend")),
                 QStringLiteral("OK 1"));
        QCOMPARE(sim_->command(
                     QStringLiteral("sms --status read --index 7 123 \"quoted \\\"text\\\"\"")),
                 QStringLiteral("OK 7"));
        QCOMPARE(sim_->command(QStringLiteral("sms --index 7 123 taken")).left(5),
                 QStringLiteral("ERROR"));
        const auto list = sim_->simMessages();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list[0]["text"].toString(), QStringLiteral("Hello there,\tfriend"));
        QCOMPARE(list[0]["number"].toString(), QStringLiteral("+44123"));
        QCOMPARE(list[1]["index"].toInt(), 7);
        QCOMPARE(list[1]["stat"].toString(), QStringLiteral("REC READ"));
        QCOMPARE(list[1]["text"].toString(), QStringLiteral("quoted \"text\""));
        QVERIFY(sim_->ok(QStringLiteral("delete 7")));
        QCOMPARE(sim_->simMessages().size(), 1);

        const QJsonObject status = sim_->status();
        QCOMPARE(status["slots"].toInt(), 30);
        QCOMPARE(status["used"].toInt(), 1);
        QCOMPARE(status["link"].toString(), sim_->linkPath());
        QVERIFY(status["plugged"].toBool());
        QVERIFY(status["echo"].toBool());

        // Every control command is in the transcript, with its reply.
        const auto ctl = sim_->transcript(QStringLiteral("ctl"));
        QVERIFY(ctl.size() >= 10);
        QCOMPARE(ctl[0]["text"].toString(), QStringLiteral("ping"));
        QCOMPARE(ctl[0]["reply"].toString(), QStringLiteral("OK pong"));
    }

    void transcriptOfCommands() {
        QVERIFY(startTextMode());
        at("AT+CMGW=\"123\"\rhi\x1a");
        at("AT+CMSS=1\r");
        at("AT+CMGD=1\r");
        const auto events = sim_->transcript();
        QStringList kinds;
        for (const auto& e : events)
            if (e["t"].toString() != QLatin1String("ctl")) kinds << e["t"].toString();
        // plug, the two commands of startTextMode, then each command before its effects.
        QCOMPARE(kinds, QStringList({"plug", "cmd", "cmd", "cmd", "stored", "cmd", "sent", "cmd",
                                     "deleted"}));
        QCOMPARE(sim_->commands(),
                 QStringList({"ATE0", "AT+CMGF=1", "AT+CMGW=\"123\"", "AT+CMSS=1", "AT+CMGD=1"}));
        for (const auto& e : events)
            QVERIFY(e.contains(QStringLiteral("ms")));
    }

    void quitRemovesLinkAndSocket() {
        QVERIFY(start());
        const QString link = sim_->linkPath(), control = sim_->controlPath();
        QVERIFY(QFileInfo(link).isSymLink());
        QVERIFY(QFileInfo::exists(control));
        line_.reset();
        port_.reset();
        sim_->stop();
        QVERIFY(!sim_->isRunning());
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(control));
        QCOMPARE(sim_->transcript().last()["t"].toString(), QStringLiteral("exit"));
    }

    void helpListsEverything() {
        QProcess p;
        p.start(SimProcess::executable(), {QStringLiteral("--help")});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* word : {"--control",      "--transcript",
                                 "--slots",        "--manufacturer",
                                 "--model",        "--revision",
                                 "--imei",         "--charsets",
                                 "--text-mode",    "--delay",
                                 "--text-timeout", "--max-line",
                                 "--max-text",     "--ring-interval",
                                 "--first-ref",    "--clcc-spaces",
                                 "--quit-on-eof",  "sms",
                                 "ring",           "hangup",
                                 "delay",          "silent",
                                 "reject-sends",   "full",
                                 "fill",           "clear",
                                 "delete",         "raw",
                                 "unplug",         "plug",
                                 "status",         "list",
                                 "ping",           "quit",
                                 "late-prompt",    "swallow",
                                 "noise",          "garbage",
                                 "urc-before",     "urc-after",
                                 "on-send",        "--split",
                                 "fate",           "reports-inside",
                                 "network-delay",  "--network-delay"})
            QVERIFY2(help.contains(QLatin1String(word)), word);
        // Bad invocations fail with a message.
        p.start(SimProcess::executable(), {});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
        p.start(SimProcess::executable(),
                {QStringLiteral("x"), QStringLiteral("--slots"), QStringLiteral("0")});
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitCode(), 2);
    }

    void stdinControl() {
        // The same commands on standard input, answered on standard output.
        const QString link = dir_->filePath(QStringLiteral("ports/COM2"));
        QProcess p;
        p.start(SimProcess::executable(), {link});
        QVERIFY(p.waitForReadyRead(5000));
        QCOMPARE(p.readLine(), QByteArray("READY ") + QFile::encodeName(link) + "\n");
        p.write("sms +91123 from stdin\nlist\n");
        QTRY_VERIFY(p.canReadLine());
        QCOMPARE(p.readLine(), QByteArray("OK 1\n"));
        QTRY_VERIFY(p.canReadLine());
        QVERIFY(p.readLine().contains("from stdin"));
        // End of input does not end it (scripts run it with no input).
        p.closeWriteChannel();
        QVERIFY(!p.waitForFinished(300));
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QVERIFY(!QFileInfo(link).isSymLink());
    }

private:
    bool start(const QStringList& args = {}) {
        sim_ = std::make_unique<SimProcess>(SimProcess::portLink(dir_->path(), 1), args);
        if (!sim_->start()) {
            qWarning("%s", qPrintable(sim_->errorString()));
            return false;
        }
        port_ = std::make_unique<QtSerialPort>(dir_->path());
        port_->setCommPort(1);
        port_->setSettings(QStringLiteral("115200,n,8,1"));
        port_->setPortOpen(true);
        line_ = std::make_unique<AtLine>(*port_);
        return true;
    }
    // Echo off, text mode: the state the program works in.
    bool startTextMode(const QStringList& args = {}) {
        return start(args) && at("ATE0\r") == QStringLiteral("ATE0\r\r\nOK\r\n") &&
               at("AT+CMGF=1\r") == Ok;
    }
    QString at(const QString& command, int timeoutMs = 3000) {
        return line_->exchange(command, timeoutMs);
    }
    QString at(const char* command, int timeoutMs = 3000) {
        return at(QString::fromLatin1(command), timeoutMs);
    }

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<QtSerialPort> port_;
    std::unique_ptr<AtLine> line_;
};

QTEST_MAIN(TestModemSim)
#include "test_modem_sim.moc"
