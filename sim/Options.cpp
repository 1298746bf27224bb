#include "Options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace sim {

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
  --network-delay MS   the network takes MS ms to take a sent message: +CMGS / +CMSS
                       (or its +CMS ERROR) comes MS ms after the text is complete or
                       AT+CMSS is read, and no command is read meanwhile (default: 0)
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
                       A text longer than one SMS (160 GSM septets, or 70 UCS2
                       characters) arrives as the parts of a concatenated message, one
                       slot each ("OK INDEX,INDEX,..."); --split is accepted (old scripts)
  ring N [NUMBER|-] [INTERVAL_MS]
                       an incoming call: N RINGs, with +CLIP: "NUMBER" after each when
                       AT+CLIP=1 is on ("-" or no number: withheld, RING only), then the
                       caller hangs up (NO CARRIER) one interval after the last RING
  hangup               the caller hangs up now (NO CARRIER)
  delay MS             answer every command MS milliseconds late (0: at once)
  network-delay MS     the result of a send comes MS ms after the text (or AT+CMSS),
                       no command read meanwhile (0: at once)
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
  fate NUMBER|* delivered [MS] | failed STATUS [MS] | never | off
                       what the network reports of a message sent to NUMBER ("*": any
                       number without a fate of its own) when the send asks for a status
                       report (AT+CSMP first octet or the PDU's TP-SRR, 0x20): delivered,
                       or failed with TP-Status STATUS (0x20..0x7F, e.g. 0x45), MS ms after
                       the send; or no report ever. Default: delivered at once. "fate off"
                       forgets every fate
  reports-inside on|off
                       on: a status report that falls due waits for the next answer and
                       goes out in its middle (between listing entries, before OK)
  status               "OK {json}": settings, SIM use, call state, pty device
  list                 "OK [json]": the SIM's messages and status reports
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

int parseOptions(const std::vector<std::string>& args, Options& opt) {
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
        } else if (a == "--network-delay") {
            if (!number(0, 3600000, n)) return fail("--network-delay needs milliseconds");
            opt.networkDelay = static_cast<int>(n);
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
    return -1;
}

} // namespace sim
