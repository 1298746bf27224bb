// gsm-modem-sim: a simulated GSM modem (SMS text and PDU mode) on a pseudo-terminal.
//
// It creates a pseudo-terminal, links its device at the path given on the command line
// and answers AT commands on it like a GSM modem with a SIM card. Line commands on its
// standard input or on a Unix control socket deliver SMS, ring, slow it down, silence
// it, make it reject sends, fill its SIM and unplug it. Every command it gets and every
// SMS it "sends" is written, one JSON object per line, to a transcript file.
// See README.md beside this file, or run it with --help.

#include "Control.h"
#include "Json.h"
#include "Modem.h"
#include "Pdu.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace sim;

namespace {

const char* const HelpText = R"(Usage: gsm-modem-sim LINK [options]

A simulated GSM modem (SMS text and PDU mode). Creates a pseudo-terminal, makes LINK
a symbolic link to its device (replacing what was there, creating missing folders) and
answers AT commands on it. Prints "READY LINK" on standard output once the link, the control
socket and the transcript are in place.

Options:
  --control PATH       control socket (default: LINK.ctl)
  --transcript FILE    transcript, one JSON object per line (default: LINK.log)
  --slots N            SIM message slots (default: 30)
  --manufacturer TEXT  answer to AT+CGMI (default: SIMCOM_Ltd)
  --model TEXT         answer to AT+CGMM (default: SIMCOM_SIM800)
  --revision TEXT      answer to AT+CGMR (default: Revision:1418B04SIM800L24)
  --imei TEXT          answer to AT+CGSN (default: 867856030123450)
  --charsets LIST      comma-separated character sets AT+CSCS accepts
                       (default: GSM,IRA,UCS2,HEX,PCCP437,8859-1,ANSI,ASCII)
  --text-mode          start in SMS text mode (AT+CMGF=1); real modems start in PDU mode
  --delay MS           answer every command MS milliseconds late (default: 0)
  --text-timeout MS    drop a message text that got no byte for MS ms, answering ERROR
                       (default: 60000)
  --max-line N         longest command line; a longer one answers ERROR (default: 4096)
  --max-text N         longest message text; a longer one answers +CMS ERROR: 305
                       (default: 160; 0 = no limit up to 4096)
  --ring-interval MS   pause between RINGs when the ring command names none (default: 3000)
  --first-ref N        first message reference of +CMGS/+CMSS (default: 1)
  --clcc-spaces        write +CLCC fields with ", " between them, as some phones do
  --quit-on-eof        exit when standard input ends (for a parent that pipes commands
                       in: the simulator then dies with it); by default it keeps running
  --help               this text

Control commands (one per line on standard input or the control socket; each is
answered on the same channel with one line "OK ..." or "ERROR reason"):
  sms [--time TS] [--status STAT] [--index N] [--split] NUMBER TEXT
                       put a message on the SIM as if the network delivered it (status
                       REC UNREAD unless --status says otherwise: unread, read, unsent,
                       sent or the full "REC READ" form); TS is yy/MM/dd,hh:mm:ss+zz
                       (default: now); --index picks the slot. Answers "OK INDEX".
                       --split: a text longer than one SMS arrives as the parts of a
                       concatenated message, one slot each ("OK INDEX,INDEX,...").
  ring N [NUMBER|-] [INTERVAL_MS]
                       an incoming call: N RINGs, with +CLIP: "NUMBER" after each when
                       AT+CLIP=1 is on ("-" or no number: withheld, RING only), then the
                       caller hangs up (NO CARRIER) one interval after the last RING
  hangup               the caller hangs up now (NO CARRIER)
  delay MS             answer every command MS milliseconds late (0: at once)
  silent on|off        on: the modem executes and answers nothing (a dead modem)
  reject-sends CODE|off
                       AT+CMGS and AT+CMSS answer +CMS ERROR: CODE (e.g. 331, 500)
  full on|off          on: the SIM reports memory full (+CMS ERROR: 322) whatever it holds
  fill [STAT]          fill every free slot with a message (default status STO UNSENT)
  clear                empty the SIM
  delete N             empty slot N
  raw TEXT             write TEXT on the line as the modem (unsolicited)
  late-prompt MS [COUNT]
                       the next COUNT (default 1) AT+CMGS/AT+CMGW enter text entry at
                       once but send their "> " prompt only MS ms later: a command
                       written meanwhile becomes part of the message text
  swallow [COUNT]      the next COUNT (default 1) sends (AT+CMGS text, AT+CMSS) are taken
                       and get no answer at all: nothing sent, no result code (0: none)
  noise on|off         on: a garbage line (printable junk or an ^RSSI-style report)
                       before and after every answer
  garbage [N]          put N (default 1) garbage lines on the line now
  urc-before TEXT      one-shot: the line TEXT (CR LF framed) just before the next
                       answer that ends in a result code
  urc-after TEXT       one-shot: the line TEXT right after that answer's final line
  on-send COMMAND...   one-shot: run the control COMMAND (e.g. ring 2 +4479... 500, or
                       sms +44... "text") the moment the next message text is complete
                       (Ctrl-Z after AT+CMGS/AT+CMGW) or the next AT+CMSS runs, before
                       its answer goes out; "on-send off" forgets the armed commands
  unplug               the modem disappears: pseudo-terminal closed, link removed
  plug                 a new pseudo-terminal at the same link, modem settings reset
  status               "OK {json}": settings, SIM use, call state, pty device
  list                 "OK [json]": the SIM's messages
  ping                 "OK pong"
  help                 "OK" and the command names
  quit                 "OK bye", then the link and the socket are removed and it exits

TEXT, NUMBER and TS take C-style escapes: \r \n \t \\ \" \a \b \e (ESC) \z (Ctrl-Z)
\0 \xHH (a byte) \uHHHH (a character). A TEXT that is one double-quoted word is that
word; otherwise TEXT is the rest of the line, escapes resolved. Message texts are
Unicode, typed in UTF-8 (a text that is no valid UTF-8 is read as Latin-1); on the line
they are in the character set of AT+CSCS. raw and urc-* TEXT are bytes for the line: a
line typed in UTF-8 gives the Latin-1 bytes of its characters when they all have one.
)";

int64_t parseInt(const char* s, int64_t lo, int64_t hi, bool& ok) {
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s, &end, 10);
    ok = s[0] != '\0' && end && *end == '\0' && errno == 0 && v >= lo && v <= hi;
    return ok ? v : 0;
}

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    int saved = errno;
    char c = 1;
    [[maybe_unused]] auto r = write(signalPipe[1], &c, 1);
    errno = saved;
}

void setNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

bool makeParents(const std::string& path) {
    for (size_t pos = path.find('/', 1); pos != std::string::npos; pos = path.find('/', pos + 1)) {
        std::string dir = path.substr(0, pos);
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

struct Options {
    std::string link;
    std::string control;
    std::string transcript;
    int delay = 0;
    bool quitOnEof = false;
    ModemConfig config;
};

struct Client {
    int fd = -1;
    std::string in;
};

class Simulator {
public:
    explicit Simulator(Options opt) : opt_(std::move(opt)), modem_(opt_.config) {
        modem_.setDelay(opt_.delay);
        modem_.onTranscript = [this](const std::string& json) { writeTranscript(json); };
        modem_.onSend = [this](int64_t) { runOnSend(); };
    }
    ~Simulator() { cleanup(); }

    bool start(std::string& error) {
        makeParents(opt_.transcript);
        transcriptFd_ =
            open(opt_.transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (transcriptFd_ < 0) {
            error = "cannot write the transcript " + opt_.transcript + ": " + std::strerror(errno);
            return false;
        }
        if (!plug(error)) return false;
        if (!listen(error)) return false;
        std::printf("READY %s\n", opt_.link.c_str());
        std::fflush(stdout);
        return true;
    }

    int run();

private:
    int64_t now() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start_)
            .count();
    }

    bool plug(std::string& error);
    void unplug();
    bool listen(std::string& error);
    void cleanup();
    void writeTranscript(const std::string& json) {
        if (transcriptFd_ < 0) return;
        std::string line = json + "\n";
        size_t off = 0;
        while (off < line.size()) {
            ssize_t w = write(transcriptFd_, line.data() + off, line.size() - off);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }
    void flushLine();
    void readLine();
    void readClient(Client& c);
    void readStdin();
    std::string handle(const std::string& rawLine);
    std::string handleSms(const std::string& line, const std::vector<Word>& w);
    void runOnSend();

    Options opt_;
    Modem modem_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    int master_ = -1;
    int slave_ = -1;
    std::string pts_;
    int listenFd_ = -1;
    std::vector<Client> clients_;
    bool stdinOpen_ = true;
    std::string stdinBuf_;
    int transcriptFd_ = -1;
    std::string pendingOut_;
    std::vector<std::string> onSend_; // control commands armed for the next send
    int concatRef_ = 1;               // reference of the next message sms --split delivers
    bool quit_ = false;
    bool cleaned_ = false;
};

bool Simulator::plug(std::string& error) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        if (m >= 0) close(m);
        return false;
    }
    const char* name = ptsname(m);
    if (!name) {
        error = "ptsname failed";
        close(m);
        return false;
    }
    std::string pts = name;
    // The simulator keeps the slave side open itself, so that the master never sees a
    // hang-up while the program closes and reopens the port.
    int s = open(pts.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0) {
        error = "cannot open " + pts + ": " + std::strerror(errno);
        close(m);
        return false;
    }
    termios tio{};
    if (tcgetattr(s, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(s, TCSANOW, &tio);
    }
    // Anyone may open the device, as a modem device that the user can use.
    chmod(pts.c_str(), 0666);
    setNonBlocking(m);

    struct stat st {};
    if (lstat(opt_.link.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            error = opt_.link + " is a folder";
            close(s);
            close(m);
            return false;
        }
        unlink(opt_.link.c_str());
    }
    if (!makeParents(opt_.link) || symlink(pts.c_str(), opt_.link.c_str()) != 0) {
        error = "cannot link " + opt_.link + " to " + pts + ": " + std::strerror(errno);
        close(s);
        close(m);
        return false;
    }
    master_ = m;
    slave_ = s;
    pts_ = pts;
    pendingOut_.clear();
    modem_.powerCycle();
    writeTranscript(JsonObject().str("t", "plug").num("ms", now()).str("pty", pts_).done());
    return true;
}

void Simulator::unplug() {
    if (master_ < 0) return;
    char target[PATH_MAX];
    ssize_t n = readlink(opt_.link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == pts_) unlink(opt_.link.c_str());
    close(master_);
    close(slave_);
    master_ = slave_ = -1;
    pendingOut_.clear();
    modem_.hangup(now()); // a call ringing when the modem goes ends there; nobody hears it
    modem_.powerCycle();
    writeTranscript(JsonObject().str("t", "unplug").num("ms", now()).str("pty", pts_).done());
    pts_.clear();
}

bool Simulator::listen(std::string& error) {
    sockaddr_un addr{};
    if (opt_.control.size() >= sizeof addr.sun_path) {
        error = "control socket path too long: " + opt_.control;
        return false;
    }
    listenFd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, opt_.control.c_str(), opt_.control.size() + 1);
    struct stat st {};
    if (lstat(opt_.control.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) unlink(opt_.control.c_str());
    if (!makeParents(opt_.control) ||
        bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 16) != 0) {
        error = "cannot listen on " + opt_.control + ": " + std::strerror(errno);
        return false;
    }
    setNonBlocking(listenFd_);
    return true;
}

void Simulator::cleanup() {
    if (cleaned_) return;
    cleaned_ = true;
    unplug();
    for (auto& c : clients_)
        close(c.fd);
    clients_.clear();
    if (listenFd_ >= 0) {
        close(listenFd_);
        unlink(opt_.control.c_str());
        listenFd_ = -1;
    }
    if (transcriptFd_ >= 0) {
        writeTranscript(JsonObject().str("t", "exit").num("ms", now()).done());
        close(transcriptFd_);
        transcriptFd_ = -1;
    }
}

void Simulator::flushLine() {
    std::string out = modem_.takeOutput(now());
    if (master_ < 0) return; // unplugged: nobody hears it
    pendingOut_ += out;
    if (pendingOut_.size() > (1u << 20)) pendingOut_.erase(0, pendingOut_.size() - (1u << 20));
    while (!pendingOut_.empty()) {
        ssize_t w = write(master_, pendingOut_.data(), pendingOut_.size());
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return; // the line is full: poll tells when it takes more
        pendingOut_.erase(0, static_cast<size_t>(w));
    }
}

void Simulator::readLine() {
    char buf[4096];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) modem_.receive(std::string_view(buf, static_cast<size_t>(n)), now());
}

void Simulator::readClient(Client& c) {
    char buf[4096];
    ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        close(c.fd);
        c.fd = -1;
        return;
    }
    c.in.append(buf, static_cast<size_t>(n));
    size_t pos;
    while (c.fd >= 0 && (pos = c.in.find('\n')) != std::string::npos) {
        std::string line = c.in.substr(0, pos);
        c.in.erase(0, pos + 1);
        std::string reply = handle(line) + "\n";
        flushLine(); // what the command put on the line is there before its reply
        if (send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) !=
            static_cast<ssize_t>(reply.size())) {
            close(c.fd);
            c.fd = -1;
        }
    }
    if (c.fd >= 0 && c.in.size() > (1u << 20)) {
        c.in.clear();
        const char* msg = "ERROR line too long\n";
        send(c.fd, msg, std::strlen(msg), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

void Simulator::readStdin() {
    char buf[4096];
    ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        stdinOpen_ = false; // end of input: go on, driven by the control socket
        if (opt_.quitOnEof) quit_ = true;
        return;
    }
    stdinBuf_.append(buf, static_cast<size_t>(n));
    size_t pos;
    while ((pos = stdinBuf_.find('\n')) != std::string::npos) {
        std::string line = stdinBuf_.substr(0, pos);
        stdinBuf_.erase(0, pos + 1);
        std::string reply = handle(line);
        flushLine();
        std::printf("%s\n", reply.c_str());
        std::fflush(stdout);
    }
    if (stdinBuf_.size() > (1u << 20)) {
        stdinBuf_.clear();
        std::printf("ERROR line too long\n");
        std::fflush(stdout);
    }
}

std::string statWord(const std::string& w) {
    std::string u = upper(w);
    for (auto& c : u)
        if (c == '-' || c == '_') c = ' ';
    if (u == "UNREAD" || u == "REC UNREAD") return "REC UNREAD";
    if (u == "READ" || u == "REC READ") return "REC READ";
    if (u == "UNSENT" || u == "STO UNSENT") return "STO UNSENT";
    if (u == "SENT" || u == "STO SENT") return "STO SENT";
    return {};
}

// The rest of the line from word k on, as one text: a single quoted word is that word,
// anything else is the raw rest with its escapes resolved.
bool restText(const std::string& line, const std::vector<Word>& w, size_t k, std::string& text,
              std::string& error) {
    if (k >= w.size()) {
        text.clear();
        return true;
    }
    if (k + 1 == w.size() && w[k].quoted) {
        text = w[k].text;
        return true;
    }
    std::string raw = line.substr(w[k].start);
    while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t'))
        raw.pop_back();
    return unescape(raw, text, error);
}

// The text of a command that writes bytes on the modem line (raw, urc-before, ...): the
// rest of the line after the command word; a line typed in UTF-8 whose characters all
// fit in Latin-1 gives their Latin-1 bytes, and \xHH escapes give any byte.
bool lineBytes(const std::string& line, std::string& bytes, std::string& error) {
    const std::string latin1 = utf8ToLatin1(line);
    std::vector<Word> w;
    if (!splitWords(latin1, w, error)) return false;
    return restText(latin1, w, 1, bytes, error);
}

std::string Simulator::handleSms(const std::string& line, const std::vector<Word>& w) {
    std::string time, stat = "REC UNREAD", error;
    int index = 0;
    bool split = false;
    size_t k = 1;
    for (; k < w.size() && !w[k].quoted && w[k].text.rfind("--", 0) == 0; ++k) {
        const std::string& o = w[k].text;
        if (o == "--split") {
            split = true;
            continue;
        }
        if (k + 1 >= w.size()) return "ERROR " + o + " needs a value";
        const std::string& v = w[++k].text;
        if (o == "--time") {
            time = v;
        } else if (o == "--status") {
            stat = statWord(v);
            if (stat.empty()) return "ERROR unknown status " + v;
        } else if (o == "--index") {
            bool ok = false;
            index = static_cast<int>(parseInt(v.c_str(), 1, 10000, ok));
            if (!ok) return "ERROR bad index " + v;
        } else {
            return "ERROR unknown option " + o;
        }
    }
    if (k >= w.size())
        return "ERROR usage: sms [--time TS] [--status STAT] [--index N] [--split] NUMBER TEXT";
    std::string number = controlText(w[k].text), text;
    if (!restText(line, w, k + 1, text, error)) return "ERROR " + error;
    text = controlText(text);
    const std::vector<std::string> parts =
        split ? splitForConcat(text) : std::vector<std::string>{};
    if (parts.size() > 1) {
        if (index != 0) return "ERROR --split takes no --index";
        // A long message as the network delivers it: parts of one concatenated message.
        const int ref = concatRef_;
        concatRef_ = concatRef_ % 255 + 1;
        std::string indexes;
        for (size_t i = 0; i < parts.size(); ++i) {
            const Concat concat{ref, static_cast<int>(parts.size()), static_cast<int>(i + 1)};
            int idx = modem_.putMessage(stat, number, parts[i], time, 0, error, now(), concat);
            if (idx == 0)
                return "ERROR " + error + (indexes.empty() ? "" : " (parts at " + indexes + ")");
            indexes += (indexes.empty() ? "" : ",") + (idx < 0 ? "shown" : std::to_string(idx));
        }
        return "OK " + indexes;
    }
    int idx = modem_.putMessage(stat, number, text, time, index, error, now());
    if (idx == 0) return "ERROR " + error;
    if (idx < 0) return "OK shown";
    return "OK " + std::to_string(idx);
}

const char* const ControlCommands[] = {
    "sms",     "ring",       "hangup",    "delay",  "silent",      "reject-sends", "full",
    "fill",    "clear",      "delete",    "raw",    "unplug",      "plug",         "status",
    "list",    "ping",       "help",      "quit",   "late-prompt", "swallow",      "noise",
    "garbage", "urc-before", "urc-after", "on-send"};

void Simulator::runOnSend() {
    std::vector<std::string> commands;
    commands.swap(onSend_);
    for (const auto& c : commands)
        handle(c); // the reply is in the transcript's "ctl" line
}

std::string Simulator::handle(const std::string& rawLine) {
    std::string line = rawLine;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    std::vector<Word> w;
    std::string error, reply;
    if (!splitWords(line, w, error)) {
        reply = "ERROR " + error;
    } else if (w.empty()) {
        reply = "ERROR empty command";
    } else {
        const std::string cmd = w[0].text;
        auto onOff = [&](bool& value) {
            if (w.size() == 2 && (w[1].text == "on" || w[1].text == "off")) {
                value = w[1].text == "on";
                return true;
            }
            return false;
        };
        bool ok = false;
        if (cmd == "sms") {
            reply = handleSms(line, w);
        } else if (cmd == "ring") {
            int n = 0, interval = 0;
            std::string number;
            if (w.size() >= 2) n = static_cast<int>(parseInt(w[1].text.c_str(), 1, 1000, ok));
            if (ok && w.size() >= 3 && w[2].text != "-") number = w[2].text;
            if (ok && w.size() >= 4)
                interval = static_cast<int>(parseInt(w[3].text.c_str(), 1, 3600000, ok));
            if (!ok || w.size() > 4)
                reply = "ERROR usage: ring N [NUMBER|-] [INTERVAL_MS]";
            else if (master_ < 0)
                reply = "ERROR unplugged";
            else if (!number.empty() &&
                     (number.size() > 32 || number.find_first_of("\"\r\n") != std::string::npos))
                reply = "ERROR bad number";
            else if (modem_.ring(n, number, interval, error, now()))
                reply = "OK ringing";
            else
                reply = "ERROR " + error;
        } else if (cmd == "hangup" && w.size() == 1) {
            reply = modem_.hangup(now()) ? "OK" : "OK no call";
        } else if (cmd == "delay" && w.size() == 2) {
            int ms = static_cast<int>(parseInt(w[1].text.c_str(), 0, 3600000, ok));
            if (ok) {
                modem_.setDelay(ms);
                reply = "OK";
            } else {
                reply = "ERROR usage: delay MS";
            }
        } else if (cmd == "silent") {
            bool on = false;
            if (onOff(on)) {
                modem_.setSilent(on);
                reply = "OK";
            } else {
                reply = "ERROR usage: silent on|off";
            }
        } else if (cmd == "reject-sends" && w.size() == 2) {
            int code =
                w[1].text == "off" ? 0 : static_cast<int>(parseInt(w[1].text.c_str(), 1, 999, ok));
            if (w[1].text == "off" || ok) {
                modem_.setRejectSends(code);
                reply = "OK";
            } else {
                reply = "ERROR usage: reject-sends CODE|off";
            }
        } else if (cmd == "full") {
            bool on = false;
            if (onOff(on)) {
                modem_.setFull(on);
                reply = "OK";
            } else {
                reply = "ERROR usage: full on|off";
            }
        } else if (cmd == "fill" && w.size() <= 2) {
            std::string stat = w.size() == 2 ? statWord(w[1].text) : "STO UNSENT";
            reply = stat.empty() ? "ERROR unknown status " + w[1].text
                                 : "OK " + std::to_string(modem_.fill(stat));
        } else if (cmd == "clear" && w.size() == 1) {
            modem_.clear();
            reply = "OK";
        } else if (cmd == "delete" && w.size() == 2) {
            int idx = static_cast<int>(parseInt(w[1].text.c_str(), 1, 100000, ok));
            reply = ok && modem_.deleteSlot(idx) ? "OK" : "ERROR no message at " + w[1].text;
        } else if (cmd == "raw" && w.size() >= 2) {
            std::string text;
            if (!lineBytes(line, text, error))
                reply = "ERROR " + error;
            else if (master_ < 0)
                reply = "ERROR unplugged";
            else {
                modem_.raw(text, now());
                reply = "OK";
            }
        } else if (cmd == "unplug" && w.size() == 1) {
            if (master_ < 0) {
                reply = "ERROR already unplugged";
            } else {
                unplug();
                reply = "OK";
            }
        } else if (cmd == "plug" && w.size() == 1) {
            if (master_ >= 0)
                reply = "ERROR already plugged";
            else if (plug(error))
                reply = "OK " + pts_;
            else
                reply = "ERROR " + error;
        } else if (cmd == "status" && w.size() == 1) {
            reply = "OK " + JsonObject()
                                .boolean("plugged", master_ >= 0)
                                .str("pty", pts_)
                                .str("link", opt_.link)
                                .str("control", opt_.control)
                                .str("transcript", opt_.transcript)
                                .num("onSend", static_cast<int64_t>(onSend_.size()))
                                .done();
            reply.pop_back();
            reply += "," + modem_.statusJson() + "}";
        } else if (cmd == "list" && w.size() == 1) {
            reply = "OK " + modem_.listJson();
        } else if (cmd == "late-prompt" && (w.size() == 2 || w.size() == 3)) {
            int ms = static_cast<int>(parseInt(w[1].text.c_str(), 0, 3600000, ok));
            int count = 1;
            if (ok && w.size() == 3)
                count = static_cast<int>(parseInt(w[2].text.c_str(), 0, 1000000, ok));
            if (ok) {
                modem_.setLatePrompt(ms, count);
                reply = "OK";
            } else {
                reply = "ERROR usage: late-prompt MS [COUNT]";
            }
        } else if (cmd == "swallow" && w.size() <= 2) {
            int count =
                w.size() == 2 ? static_cast<int>(parseInt(w[1].text.c_str(), 0, 1000000, ok)) : 1;
            if (w.size() == 1 || ok) {
                modem_.setSwallow(count);
                reply = "OK";
            } else {
                reply = "ERROR usage: swallow [COUNT]";
            }
        } else if (cmd == "noise") {
            bool on = false;
            if (onOff(on)) {
                modem_.setNoise(on);
                reply = "OK";
            } else {
                reply = "ERROR usage: noise on|off";
            }
        } else if (cmd == "garbage" && w.size() <= 2) {
            int n = w.size() == 2 ? static_cast<int>(parseInt(w[1].text.c_str(), 1, 10000, ok)) : 1;
            if (w.size() == 2 && !ok)
                reply = "ERROR usage: garbage [N]";
            else if (master_ < 0)
                reply = "ERROR unplugged";
            else {
                modem_.garbage(n, now());
                reply = "OK";
            }
        } else if ((cmd == "urc-before" || cmd == "urc-after") && w.size() >= 2) {
            std::string text;
            if (!lineBytes(line, text, error)) {
                reply = "ERROR " + error;
            } else if (text.find_first_of("\r\n") != std::string::npos) {
                reply = "ERROR one line only";
            } else {
                if (cmd == "urc-before")
                    modem_.addUrcBefore(text);
                else
                    modem_.addUrcAfter(text);
                reply = "OK";
            }
        } else if (cmd == "on-send" && w.size() >= 2) {
            if (w.size() == 2 && w[1].text == "off") {
                onSend_.clear();
                reply = "OK";
            } else if (std::find(std::begin(ControlCommands), std::end(ControlCommands),
                                 w[1].text) == std::end(ControlCommands)) {
                reply = "ERROR unknown command " + w[1].text;
            } else {
                onSend_.push_back(line.substr(w[1].start));
                reply = "OK armed " + std::to_string(onSend_.size());
            }
        } else if (cmd == "ping") {
            reply = "OK pong";
        } else if (cmd == "help") {
            reply = "OK";
            for (const char* c : ControlCommands)
                reply += std::string(" ") + c;
        } else if (cmd == "quit" && w.size() == 1) {
            quit_ = true;
            reply = "OK bye";
        } else {
            reply = "ERROR unknown command or wrong arguments: " + cmd + " (try help)";
        }
    }
    writeTranscript(JsonObject()
                        .str("t", "ctl")
                        .num("ms", now())
                        .str("text", line)
                        .str("reply", reply.substr(0, 200))
                        .done());
    // Replies are one line: no raw CR or LF from a text can break them.
    for (auto& c : reply)
        if (c == '\r' || c == '\n') c = ' ';
    return reply;
}

int Simulator::run() {
    while (!quit_) {
        modem_.advance(now());
        flushLine();

        std::vector<pollfd> fds;
        fds.push_back({signalPipe[0], POLLIN, 0});
        size_t stdinAt = 0, listenAt = 0, masterAt = 0, clientsAt = 0;
        if (stdinOpen_) {
            stdinAt = fds.size();
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        }
        listenAt = fds.size();
        fds.push_back({listenFd_, POLLIN, 0});
        if (master_ >= 0) {
            masterAt = fds.size();
            short ev = POLLIN;
            if (!pendingOut_.empty()) ev |= POLLOUT;
            fds.push_back({master_, ev, 0});
        }
        clientsAt = fds.size();
        for (auto& c : clients_)
            fds.push_back({c.fd, POLLIN, 0});

        int64_t wake = modem_.nextWakeup(now());
        int timeout = wake < 0 ? -1 : static_cast<int>(std::min<int64_t>(wake, INT_MAX));
        int r = poll(fds.data(), fds.size(), timeout);
        if (r < 0) {
            if (errno == EINTR) continue;
            std::perror("poll");
            return 1;
        }
        if (fds[0].revents) {
            std::fprintf(stderr, "gsm-modem-sim: signal received, exiting\n");
            break;
        }
        if (stdinOpen_ && fds[stdinAt].revents) readStdin();
        if (master_ >= 0 && masterAt && (fds[masterAt].revents & (POLLIN | POLLHUP | POLLERR)))
            readLine();
        for (size_t k = 0; k < clients_.size(); ++k)
            if (fds[clientsAt + k].revents && !quit_) readClient(clients_[k]);
        std::erase_if(clients_, [](const Client& c) { return c.fd < 0; });
        if (fds[listenAt].revents & POLLIN) {
            int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0) clients_.push_back({fd, {}});
        }
    }
    flushLine();
    cleanup();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    Options opt;
    std::vector<std::string> args(argv + 1, argv + argc);
    auto fail = [](const std::string& msg) {
        std::fprintf(stderr, "gsm-modem-sim: %s\n(see gsm-modem-sim --help)\n", msg.c_str());
        return 2;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::fputs(HelpText, stdout);
            return 0;
        }
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto number = [&](int64_t lo, int64_t hi, int64_t& out) {
            std::string v;
            bool ok = false;
            if (value(v)) out = parseInt(v.c_str(), lo, hi, ok);
            return ok;
        };
        int64_t n = 0;
        std::string v;
        if (a == "--control") {
            if (!value(opt.control)) return fail("--control needs a path");
        } else if (a == "--transcript") {
            if (!value(opt.transcript)) return fail("--transcript needs a file");
        } else if (a == "--slots") {
            if (!number(1, 1000, n)) return fail("--slots needs a number from 1 to 1000");
            opt.config.slots = static_cast<int>(n);
        } else if (a == "--manufacturer") {
            if (!value(opt.config.manufacturer)) return fail("--manufacturer needs a text");
        } else if (a == "--model") {
            if (!value(opt.config.model)) return fail("--model needs a text");
        } else if (a == "--revision") {
            if (!value(opt.config.revision)) return fail("--revision needs a text");
        } else if (a == "--imei") {
            if (!value(opt.config.imei)) return fail("--imei needs a text");
        } else if (a == "--charsets") {
            if (!value(v)) return fail("--charsets needs a list");
            opt.config.charsets.clear();
            size_t start = 0;
            while (start <= v.size()) {
                size_t comma = v.find(',', start);
                std::string cs =
                    v.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                if (!cs.empty()) opt.config.charsets.push_back(cs);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (a == "--text-mode") {
            opt.config.initialCmgf = 1;
        } else if (a == "--delay") {
            if (!number(0, 3600000, n)) return fail("--delay needs milliseconds");
            opt.delay = static_cast<int>(n);
        } else if (a == "--text-timeout") {
            if (!number(1, 86400000, n)) return fail("--text-timeout needs milliseconds");
            opt.config.textTimeoutMs = n;
        } else if (a == "--max-line") {
            if (!number(16, 1 << 20, n)) return fail("--max-line needs a number from 16");
            opt.config.maxLine = static_cast<size_t>(n);
        } else if (a == "--max-text") {
            if (!number(0, 4096, n)) return fail("--max-text needs a number from 0 to 4096");
            opt.config.maxText = static_cast<size_t>(n);
        } else if (a == "--ring-interval") {
            if (!number(1, 3600000, n)) return fail("--ring-interval needs milliseconds");
            opt.config.ringIntervalMs = static_cast<int>(n);
        } else if (a == "--first-ref") {
            if (!number(0, 255, n)) return fail("--first-ref needs a number from 0 to 255");
            opt.config.firstRef = static_cast<int>(n);
        } else if (a == "--clcc-spaces") {
            opt.config.clccSpaces = true;
        } else if (a == "--quit-on-eof") {
            opt.quitOnEof = true;
        } else if (!a.empty() && a[0] == '-') {
            return fail("unknown option " + a);
        } else if (opt.link.empty()) {
            opt.link = a;
        } else {
            return fail("only one LINK may be given");
        }
    }
    if (opt.link.empty()) return fail("LINK is missing");
    if (opt.control.empty()) opt.control = opt.link + ".ctl";
    if (opt.transcript.empty()) opt.transcript = opt.link + ".log";

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(opt);
    std::string error;
    if (!sim.start(error)) {
        std::fprintf(stderr, "gsm-modem-sim: %s\n", error.c_str());
        return 1;
    }
    return sim.run();
}
