#pragma once

// The simulated GSM modem: the AT command interpreter, the SIM message store and the
// voice-call state, without any I/O. The simulator feeds it the bytes that arrive on
// the line and the current time, and writes out what it has to send; control commands
// call its public methods. The line carries bytes; the SIM keeps texts in Unicode
// (UTF-8), converted to and from the character set chosen with AT+CSCS.

#include "Charset.h"
#include "Pdu.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct ModemConfig {
    int slots = 30;                                     // SIM message slots, indexes 1..slots
    std::string manufacturer = "SIMCOM_Ltd";            // AT+CGMI
    std::string model = "SIMCOM_SIM800";                // AT+CGMM
    std::string revision = "Revision:1418B04SIM800L24"; // AT+CGMR
    std::string imei = "867856030123450";               // AT+CGSN
    // Character sets AT+CSCS accepts (compared without regard to case).
    std::vector<std::string> charsets = {"GSM",     "IRA",    "UCS2", "HEX",
                                         "PCCP437", "8859-1", "ANSI", "ASCII"};
    int64_t textTimeoutMs = 60000; // a message text without Ctrl-Z is dropped after this pause
    size_t maxLine = 4096;         // longest command line; longer ones answer ERROR
    size_t maxText = 160;          // longest message text (0: no limit); longer: +CMS ERROR: 305
    bool clccSpaces = false;       // +CLCC fields separated by ", " as some phones do
    int firstRef = 1;              // first message reference of +CMGS / +CMSS
    int initialCmgf = 0;           // SMS mode after power-up (0 PDU, as real modems)
    int ringIntervalMs = 3000;     // default pause between two RINGs
};

// A SIM slot holds a message, or a status report (`report`; its status REC UNREAD or
// REC READ, `number` the recipient of the message it reports on, `time` the time stamp
// the service centre gave that message).
struct SimSlot {
    bool used = false;
    std::string stat{};   // "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"
    std::string number{}; // originator or destination address
    int type = 129;       // type of address: 145 international, 129 national, 208 alphanumeric
    std::string time{};   // service-centre time stamp of received messages, yy/MM/dd,hh:mm:ss+zz
    std::string text{};   // UTF-8
    std::string pdu{};    // a message written in PDU mode: that PDU (hex, SMSC part first)
    Concat concat{};      // a part of a concatenated message
    int fo = 17;          // a stored message's first octet (0x20: a status report is requested)
    bool report = false;
    int mr = 0;       // report: the reference of the message it reports on
    int st = 0;       // report: TP-Status
    std::string dt{}; // report: discharge time, yy/MM/dd,hh:mm:ss+zz
};

// What the network does with a message sent to a number, as its status report tells:
// delivered, or failed with a TP-Status (0x20..0x7F), `ms` after the send; or no report
// ever comes.
struct Fate {
    enum Kind { Delivered, Failed, Never } kind = Delivered;
    int ms = 0;
    int status = 0;
};

class Modem {
public:
    explicit Modem(ModemConfig config);

    // One JSON object (a transcript line without its newline) per event.
    std::function<void(const std::string&)> onTranscript;
    // Called the moment a message text is complete (Ctrl-Z after AT+CMGS or AT+CMGW) and
    // when AT+CMSS is carried out, before the answer goes out; whatever it puts on the
    // line comes before that answer.
    std::function<void(int64_t now)> onSend;

    // ---- the line ------------------------------------------------------------------
    // Bytes written by the client. They are processed at once, or later while the
    // modem is busy answering slowly (see setDelay).
    void receive(std::string_view bytes, int64_t now);
    // Runs what is due at `now`: queued input, rings, the text-entry time limit.
    void advance(int64_t now);
    // Bytes due on the line at `now` (removed from the queue).
    std::string takeOutput(int64_t now);
    // Milliseconds until the modem next has something to do; -1 when nothing is pending.
    int64_t nextWakeup(int64_t now) const;
    // Power-up state: settings back to their defaults, pending line input and output
    // dropped, a text entry abandoned, a call ended. The SIM content stays.
    void powerCycle();

    // ---- control -------------------------------------------------------------------
    // Puts a text on the SIM as the network (REC ...) or the user (STO ...) would: a text
    // longer than one SMS (160 GSM septets, or 70 UCS2 characters when the GSM alphabet
    // lacks one of its characters) as the parts of a concatenated message, one slot each.
    // Returns the slot of each part (0 for a part shown with +CMT), or nothing with
    // `error` set; a text that does not fit the free slots is refused whole.
    std::vector<int> putText(const std::string& stat, const std::string& number,
                             const std::string& text, const std::string& time, int index,
                             std::string& error, int64_t now);
    // Puts a message on the SIM as the network (REC ...) or the user (STO ...) would.
    // index 0 takes the first free slot. Returns the index, or 0 with `error` set.
    // A REC message is announced with +CMTI (or shown with +CMT) as AT+CNMI asks.
    // `concat`: the message is that part of a concatenated one.
    int putMessage(const std::string& stat, const std::string& number, const std::string& text,
                   const std::string& time, int index, std::string& error, int64_t now,
                   const Concat& concat = {});
    // Starts an incoming call that rings `rings` times, `intervalMs` apart, then the
    // caller hangs up (NO CARRIER). An empty number is a withheld one (no +CLIP).
    bool ring(int rings, const std::string& number, int intervalMs, std::string& error,
              int64_t now);
    // The caller hangs up now: NO CARRIER. False when there was no call.
    bool hangup(int64_t now);
    void setDelay(int ms) { delayMs_ = ms < 0 ? 0 : ms; }
    // The network takes `ms` to take a message: the result of a send (+CMGS / +CMSS, or
    // the network's +CMS ERROR) comes that long after the text is complete or AT+CMSS
    // is read, and the modem reads no further command meanwhile.
    void setNetworkDelay(int ms) { networkDelayMs_ = ms < 0 ? 0 : ms; }
    int networkDelay() const { return networkDelayMs_; }
    void setSilent(bool on) { silent_ = on; }
    void setRejectSends(int cmsCode) { rejectCode_ = cmsCode; }
    void setFull(bool on) { full_ = on; }
    // The next `count` AT+CMGS / AT+CMGW go into text entry at once but show their "> "
    // prompt only `ms` later: what the client writes meanwhile is message text.
    void setLatePrompt(int ms, int count) {
        latePromptMs_ = ms < 0 ? 0 : ms;
        latePrompts_ = count < 0 ? 0 : count;
    }
    // The next `count` sends (a text after AT+CMGS, an AT+CMSS) are taken and never
    // answered: nothing goes to the network, no result code at all.
    void setSwallow(int count) { swallow_ = count < 0 ? 0 : count; }
    // On: a garbage line (printable junk or an ^RSSI-style report) before and after
    // every answer.
    void setNoise(bool on) { noise_ = on; }
    // Puts `lines` garbage lines on the line now.
    void garbage(int lines, int64_t now);
    // One-shot unsolicited lines (CR LF framed) just before the next final answer and
    // right after its final line.
    void addUrcBefore(const std::string& line) { urcBefore_.push_back(line); }
    void addUrcAfter(const std::string& line) { urcAfter_.push_back(line); }
    // The fate of messages sent to `number` ("*": to any number without a fate of its
    // own); without one a message is delivered at once.
    void setFate(const std::string& number, const Fate& fate) { fates_[number] = fate; }
    bool clearFate(const std::string& number) { return fates_.erase(number) > 0; }
    void clearFates() { fates_.clear(); }
    // On: a status report that falls due waits for the next answer and goes out in its
    // middle (between two entries of a listing, between +CMGS: and OK). Off: what waits
    // goes out now.
    void setReportsInside(bool on, int64_t now) {
        reportsInside_ = on;
        if (!on && !heldReports_.empty()) emitAt(now, std::move(heldReports_));
        heldReports_.clear();
    }
    // Fills every free slot with a message of status `stat`; returns how many.
    int fill(const std::string& stat);
    void clear();
    bool deleteSlot(int index);
    // Writes bytes on the line as the modem would (unsolicited).
    void raw(const std::string& bytes, int64_t now);

    // JSON texts for the control's status and list commands.
    std::string statusJson() const; // members of an object, without braces
    std::string listJson() const;   // an array
    int slotsUsed() const;
    int slots() const { return static_cast<int>(sim_.size()); }

private:
    enum class Final { Ok, Error, CmsError, NoCarrier, None };
    struct Exec {
        std::string out; // information text so far
        Final final = Final::Ok;
        int cms = 0;
        bool textEntry = false;
        bool swallowed = false;            // a send that gets no answer at all
        size_t middle = std::string::npos; // where in `out` a held report may go
        bool network = false;              // the answer is the network's (a send)
    };
    struct Param {
        std::string value;
        bool quoted = false;
    };
    struct Settings {
        bool echo = true;
        bool verbose = true;
        bool quiet = false;
        int cmgf = 0;
        int clip = 0;
        std::string cscs = "IRA";
        int flo = 0;
        int ifcDce = 0, ifcDte = 0;
        int ipr = 0;
        int cmee = 0;
        int cnmi[5] = {0, 0, 0, 0, 0};
        int csdh = 0;
        int csmp[4] = {17, 167, 0, 0}; // text mode: first octet, validity, PID, DCS
        int creg = 0;
        std::string csca = "+10000000000";
        unsigned char s[256] = {};
    };
    struct Call {
        bool present = false;
        bool answered = false;
        std::string number;
        int type = 129;
        int ringsTotal = 0;
        int ringsDone = 0;
        int intervalMs = 3000;
        int64_t nextAt = 0;
    };
    // A status report the network is to send.
    struct PendingReport {
        int64_t due = 0;
        std::string via; // CMGS or CMSS
        std::string number;
        int mr = 0;
        Fate fate;
        std::string scts; // when the service centre took the message
    };
    struct TextEntry {
        bool cmgs = false;
        std::string number;
        int type = 129;
        std::string stat;
        Charset set = Charset::Ira; // the TE character set of the text
        std::string text;           // bytes as they came
        bool overflow = false;
        bool pdu = false; // PDU mode: hex of a PDU whose TPDU has `length` octets
        int length = 0;
        bool skipLf = true;
        int64_t lastByte = 0;
    };

    void resetSettings();
    void processByte(char c, int64_t now);
    void commandByte(char c, int64_t now);
    void textByte(char c, int64_t now);
    void executeLine(const std::string& line, int64_t now);
    void runBody(const std::string& body, Exec& ex, int64_t now);
    bool basic(const std::string& body, size_t& i, Exec& ex, int64_t now);
    bool extended(const std::string& name, char op, const std::string& args, Exec& ex, int64_t now);
    bool smsCommand(const std::string& name, char op, const std::vector<Param>& p, Exec& ex,
                    int64_t now);
    void finishText(bool send, int64_t now, const char* how);
    bool entryText(const TextEntry& t, std::string& text) const;
    Charset charset() const { return charsetNamed(settings_.cscs); }
    // A number (or text) of a command or an answer in the TE character set.
    bool teIn(const std::string& raw, std::string& utf8) const;
    std::string teOut(const std::string& utf8) const { return teEncode(utf8, charset()); }
    void listMessages(const std::string& stat, bool keepStatus, Exec& ex);
    void finishPdu(TextEntry& t, int64_t now);
    // The PDU AT+CMGL / AT+CMGR show for a slot: SMS-DELIVER for a received message,
    // SMS-SUBMIT for a stored one (as written, when it was written in PDU mode),
    // SMS-STATUS-REPORT for a report.
    EncodedPdu slotPdu(const SimSlot& s) const;
    // A text-mode +CMGL / +CMGR line's fields after the status for a status report:
    // <fo>,<mr>,"<ra>",<tora>,"<scts>","<dt>",<st>.
    std::string reportFields(const SimSlot& s) const;
    // A send went to the network: its status report, when `srr` asks for one, is due as
    // the destination's fate says.
    void sent(const std::string& via, const std::string& number, int mr, bool srr, int64_t now);
    // The status reports due at `now`: shown with +CDS, stored with +CDSI or dropped, as
    // AT+CNMI's <ds> says.
    void deliverReports(int64_t now);
    // An unsolicited report (CR LF framed lines): on the line now, or held for the middle
    // of the next answer.
    void unsolicited(const std::string& bytes, int64_t now);

    std::string crlf() const;
    std::string info(std::string_view text) const;
    std::string finalText(Final f, int cms) const;
    static std::string finalName(Final f, int cms);
    void emitAt(int64_t when, std::string bytes);
    void respond(std::string bytes, int64_t now);
    // respond() for an answer that ends with a final result code: with the one-shot
    // unsolicited lines and, with noise on, garbage around it. Held reports go at
    // `middle` (an offset into `bytes`: 0 before everything).
    void answer(std::string bytes, int64_t now, size_t middle = 0);
    // The answer to a send, which the network gives after networkDelay().
    void networkAnswer(std::string bytes, int64_t now, size_t middle = 0);
    std::string noiseLine();
    void startRinging(int64_t now);
    void emitRing(int64_t now);
    void transcript(const std::string& json);
    std::string clccLine() const;
    int freeSlot() const;
    bool simFull() const { return full_ || freeSlot() == 0; }
    int nextRef();
    static std::string timestamp();

    ModemConfig config_;
    Settings settings_;
    std::vector<SimSlot> sim_;
    Call call_;
    TextEntry text_;
    bool inText_ = false;

    std::string line_;
    bool lineOverflow_ = false;
    std::string lastLine_;

    std::string inQueue_;
    size_t inPos_ = 0;
    int64_t busyUntil_ = 0;
    std::deque<std::pair<int64_t, std::string>> out_;
    size_t outBytes_ = 0;
    int64_t lastOutTime_ = 0;

    bool deferring_ = false;
    std::vector<std::string> deferred_;

    int delayMs_ = 0;
    int networkDelayMs_ = 0;
    int answerExtraMs_ = 0; // added to the delay of the answer being made
    bool silent_ = false;
    int rejectCode_ = 0;
    bool full_ = false;
    int ref_ = 1;
    int latePromptMs_ = 0;
    int latePrompts_ = 0;
    int swallow_ = 0;
    bool noise_ = false;
    std::minstd_rand noiseRng_{20260108};
    std::vector<std::string> urcBefore_;
    std::vector<std::string> urcAfter_;

    int concatRef_ = 1; // reference of the next concatenated message putText delivers
    std::map<std::string, Fate> fates_;
    std::vector<PendingReport> reports_;
    bool reportsInside_ = false;
    std::string heldReports_; // waiting for the middle of the next answer
};

// Text helpers shared with the control side.
std::string upper(std::string_view s);
bool validTimestamp(std::string_view s);
int addressType(std::string_view number);

} // namespace sim
