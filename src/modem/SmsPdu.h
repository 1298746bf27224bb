#pragma once

#include <QList>
#include <QString>

// SMS PDUs as PDU mode (AT+CMGF=0) carries them: hex digits, the service centre part
// (its length octet first; "00" for the centre set in the modem) and then the TPDU.
//
// The program writes SMS-SUBMIT PDUs: GSM 7-bit with the extension table when every
// character has a code there, UCS2 (UTF-16, emoji as surrogate pairs) otherwise; a text
// longer than one SMS goes as a concatenated message (user data header element 0, an
// 8-bit reference, at most MaxParts parts). It reads SMS-DELIVER, SMS-SUBMIT (messages
// stored on the SIM) and SMS-STATUS-REPORT PDUs: 7-bit (national language tables are
// not applied), 8-bit and UCS2 data, international, national and alphanumeric
// addresses, time stamps, and concatenation headers with 8- and 16-bit references.
// Every PDU read is written by a stranger: anything that does not add up is refused
// with a reason, never guessed at.
namespace pdu {

enum class Coding { Gsm7, Bit8, Ucs2 };
enum class Type { Deliver, Submit, StatusReport };

// The most parts one message may be sent in.
inline constexpr int MaxParts = 10;

// The part of a concatenated message a PDU holds; parts == 0: not concatenated.
struct Concat {
    int ref = 0;
    bool ref16 = false; // a 16-bit reference (element 8)
    int parts = 0;
    int part = 0;
};

// A PDU read back.
struct Message {
    Type type = Type::Deliver;
    QString serviceCentre; // "" when the PDU named none
    int firstOctet = 0;
    int reference = 0;  // TP-MR (SUBMIT, STATUS-REPORT)
    QString number;     // originator, destination or recipient: "+4479...", "0812...", "VM-BANK"
    int numberType = 0; // the type-of-address octet
    int protocolId = 0;
    int dataCoding = 0;
    Coding coding = Coding::Gsm7;
    QString timeStamp;     // the centre's time stamp, "yy/MM/dd,hh:mm:ss+zz" ("" for SUBMIT)
    QString dischargeTime; // STATUS-REPORT: when the message's fate was settled
    int status = -1;       // STATUS-REPORT: TP-Status (0 delivered, 0x20.. temporary, ...)
    bool statusReportRequested = false; // SUBMIT: TP-SRR
    Concat concat;
    QString text; // 8-bit data: each octet a Latin-1 character
};

struct Decoded {
    bool ok = false;
    QString error; // why the PDU cannot be read, when !ok
    Message message;
};

// Reads a PDU in hex (blanks around it ignored). `tpduLength`, when not negative, is
// the TPDU length the modem gave with it (AT+CMGL's <length>) and must match.
Decoded decode(const QString& hex, int tpduLength = -1);

// How a text goes out in PDU mode.
struct Plan {
    Coding coding = Coding::Gsm7;
    int units = 0;       // septets (an extension character two) or UTF-16 units
    int singleLimit = 0; // units one SMS takes: 160 or 70
    int partLimit = 0;   // units one part of a concatenated message takes: 153 or 67
    int parts = 0;       // 1 for a text that fits one SMS (an empty one too)
};
Plan plan(const QString& text);

// One SMS-SUBMIT to write after AT+CMGS=<length> / AT+CMGW=<length>.
struct Submit {
    QString hex;    // upper-case hex, starting with "00" (the modem's own service centre)
    int length = 0; // the TPDU's octets
    QString text;   // the part of the text it carries
};

// The SMS-SUBMIT PDUs of a message to `number` (digits, "*", "#", with an optional
// leading "+"), in order: one for a text that fits one SMS, otherwise one per part with
// the concatenation header and the 8-bit reference `concatRef`. Empty, with `error`,
// for a number that cannot be written in an address or a text of more than MaxParts
// parts.
QList<Submit> encodeSubmit(const QString& number, const QString& text, int concatRef,
                           bool statusReport, QString* error = nullptr);

// The status word of a listing's numeric status (0 "REC UNREAD", 1 "REC READ",
// 2 "STO UNSENT", 3 "STO SENT"); "" for another one.
QString statusWord(const QString& stat);
// The number AT+CMGL takes for a status word ("ALL" 4); -1 for an unknown word.
int statusNumber(const QString& word);

} // namespace pdu
