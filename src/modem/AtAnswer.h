#pragma once

#include "core/AppState.h"

#include <QList>
#include <QString>
#include <QStringList>

// Reading what the modem says, line by line.
//
// Everything that arrives is split into lines at CR LF. A command's answer is judged on
// whole lines only: a final result code (OK, ERROR, +CMS ERROR: n, +CME ERROR: n,
// NO CARRIER...) or the "> " prompt ends an answer only as a whole line, never as part of
// a line. Lines the modem sends on its own (RING, +CLIP:, NO CARRIER, +CMTI:, ^RSSI:...)
// are reports when they come before a command's answer starts, after it has ended, or
// while no command is waiting; inside an answer (a listed message's text above all) they
// are text like any other. Message texts are written by strangers: nothing in them can
// end an answer early, start a listing entry in the middle of a line, or pose as a report.
namespace at {

// How an answer is built, which decides where it ends.
enum class Kind {
    Plain,   // information lines, then a final result code
    Listing, // AT+CMGL: "+CMGL: " entries, each with its message text, then the final code
    Prompt,  // AT+CMGS / AT+CMGW: the "> " prompt, or a final result code
    Confirm, // a message text after the prompt: "+CMGS: n" (or +CMGW / +CMSS), then OK
};

enum class Final { None, Ok, Error, CmsError, CmeError, NoCarrier, Other, Prompt };

// The final result code a whole line is (trailing CRs and blanks ignored), or None.
Final finalResult(QStringView line);
// ERROR, +CMS ERROR: n and +CME ERROR: n.
inline bool isError(Final f) {
    return f == Final::Error || f == Final::CmsError || f == Final::CmeError;
}

// The answer prefix of a command's own information lines: "+CLCC:" for "AT+CLCC\r",
// "+CMGL:" for an AT+CMGL; empty for basic commands.
QString ownPrefix(const QString& command);

// A line the modem sends on its own, unless `ownPrefix` says it belongs to the command
// that is waiting (AT+CLCC's "+CLCC:" lines are its answer, not reports).
bool isUnsolicited(QStringView line, const QString& ownPrefix = {});
// The reports the call handling needs: RING, +CRING:, +CLIP:, +CLCC:, NO CARRIER.
bool isCallReport(QStringView line);
// Status reports of sent messages: +CDS: (shown) and +CDSI: (kept on the SIM).
bool isStatusReport(QStringView line);
// "+CDS: <length>": a status report in PDU mode, whose PDU is the next line.
bool isPduStatusReportHeader(QStringView line);
// A whole text-mode status report line (+CDS: with all seven fields, or +CDSI: with
// storage and index), as nothing but a modem writes it.
bool isCompleteStatusReport(QStringView line);

// The kind of answer a command gets: a listing for AT+CMGL, the prompt when ">" is
// expected, a confirmation for a message text (ending in Ctrl-Z), plain otherwise.
Kind kindOf(const QString& command, const QString& expected);

// Where a command's answer stands after what has arrived so far.
struct Judgement {
    bool complete = false; // a final result (or the prompt) ended what was received
    Final final = Final::None;
    QString finalLine;    // the final result line as received ("+CMS ERROR: 321")
    QString text;         // the answer as the modem framed it: CR LF line ends, without
                          // the echo of the command and without reports
    QStringList lines;    // the answer's lines before the final one
    QStringList trailing; // reports after the final line
    // Status reports the modem put inside a listing (between its entries).
    QStringList inlineReports;
};

// One command's answer: fed with what arrives, judged on whole lines.
class AnswerReader {
public:
    // A command was written (with its terminator); its answer starts now. `carried` is an
    // unfinished line from before (the rest of a report that was arriving).
    void begin(const QString& command, Kind kind, const QString& carried = {});
    void feed(const QString& data);

    // `quiet`: nothing more has arrived for a while, so a listing may end at a final
    // line that a line of noise followed.
    Judgement judge(bool quiet = false) const;
    // Reports that came outside the answer's text, each once: before a listing started
    // (they cannot become part of it), or anywhere among the lines of any other answer
    // (those carry nobody's text). A status report in PDU mode comes with its PDU line
    // ("+CDS: 25\r\n0791...") once that has arrived.
    QStringList takeReports();

    Kind kind() const { return kind_; }
    const QString& received() const { return received_; }
    bool hasPartialLine() const { return !partial_.isEmpty(); }
    // What arrived after the last line end.
    const QString& partialLine() const { return partial_; }

private:
    // Index of the first answer line (after echo and leading reports); lines_.size() when
    // the answer has not started. Leading reports found on the way go to leading_.
    void scanLeading();
    // A report among the lines of an answer other than a listing (its first line), and
    // any line of one (a PDU report's PDU too).
    bool isReportStart(qsizetype k) const;
    bool isReportLine(qsizetype k) const;
    // The status reports framed between the entries of a complete listing ending at
    // line `end`.
    QList<int> reportsInListing(int end) const;

    Kind kind_ = Kind::Plain;
    QString echo_;
    QString own_;
    QString received_;
    QString partial_;
    QStringList lines_;
    int scanned_ = 0;      // leading lines classified so far
    int answerStart_ = -1; // first answer line, -1 while none
    bool echoSeen_ = false;
    bool skipBody_ = false; // the line after a +CMT: style report is its text
    QList<int> reportIndexes_;
    int reportsTaken_ = 0;
};

// The persistent view of the line: which command's answer is being received, and the
// reports that come between answers. Every byte read from the modem goes through here.
class ModemLine {
public:
    // What arrived from the modem.
    void feed(const QString& data);
    // A command was written: what arrives from now on is its answer.
    void beginAnswer(const QString& command, Kind kind);
    // The exchange is over. An answer that had not ended leaves the line unsettled: the
    // rest of it may still come, and is not taken for reports or for the next answer.
    void endAnswer(bool quiet = false);

    bool answering() const { return answering_; }
    Judgement judge(bool quiet = false) const { return reader_.judge(quiet); }
    const AnswerReader& reader() const { return reader_; }
    // An abandoned answer's rest may still arrive (see endAnswer).
    bool unsettled() const { return unsettled_; }
    Kind unsettledKind() const { return staleKind_; }
    // The line has been quiet long enough: what comes now is new.
    void settle();

    // Call reports (RING, +CLIP:, NO CARRIER...) in arrival order, each once.
    QStringList takeReports();
    bool hasReports() const { return !reports_.isEmpty(); }
    // Status reports of sent messages (+CDS:, +CDSI:; a PDU one as its two lines joined
    // by CR LF), in arrival order, each once: between answers, inside answers, and
    // between the entries of a listing.
    QStringList takeStatusReports();
    bool hasStatusReports() const { return !statusReports_.isEmpty(); }

private:
    void idleLine(const QString& line);
    void keepReport(const QString& report);

    AnswerReader reader_;
    bool answering_ = false;
    bool unsettled_ = false;
    bool staleListing_ = false; // the rest of an abandoned listing: texts, not reports
    Kind staleKind_ = Kind::Plain;
    QString partial_; // unfinished line while no answer is awaited
    bool skipBody_ = false;
    QString pendingStatus_; // a PDU status report's first line, waiting for its PDU
    QStringList reports_;
    QStringList statusReports_;
};

// ---- answers the program reads ------------------------------------------------------

// One entry of a message listing.
struct ListedMessage {
    QString index;  // storage index, as listed
    QString status; // "REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"
    QString number; // without quotes
    QString time;   // the time stamp, without quotes ("" for stored messages)
    QString text;   // the message text, exactly (inner line breaks kept)
    QStringList fields; // the header's fields after "+CMGL: ", as listed (in PDU mode the
                        // fourth is the PDU's length)
    // A status report kept on the SIM (listed in text mode as "+CMGL: <index>,<stat>,<fo>,
    // <mr>,...", with no text line): its fields from <fo> on; "" for a message.
    QString report;
};

// The entries of a listing's answer lines (Judgement::lines of an AT+CMGL). An entry
// starts only at a line that begins with "+CMGL: " followed by a storage index and a
// status; its text is every line up to the next entry (or the end), joined by
// CR LF; the last one without the empty line that frames the listing's final line.
QList<ListedMessage> parseListing(const QStringList& lines);

// The fields of a header line split at commas outside double quotes.
QStringList splitFields(QStringView line);

// The call state of a call-list answer: the third field of the first "+CLCC: " line,
// as "0".."5" or whatever stands there; null when no call is listed.
QString callStateField(const QStringList& answerLines);

// The caller's number in a +CLIP: or +CLCC: report: the first quoted field (+CLIP) or
// the quoted number after the five leading fields (+CLCC); empty when none is given.
QString callerNumber(QStringView report);

// The line of a modem state, made on first use.
ModemLine& lineOf(const ModemState& modem);

} // namespace at
