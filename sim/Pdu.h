#pragma once

// SMS PDUs (the TPDU of SMS-SUBMIT and SMS-DELIVER with the SMSC part in front), as
// SMS PDU mode carries them in hex: addresses in semi-octets (digits) or GSM 7-bit
// (alphanumeric senders), the data coding scheme, user data in GSM 7-bit (packed
// septets), 8-bit or UCS2, with or without a user data header, and the service-centre
// time stamp.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Coding { Gsm7, Bit8, Ucs2 };
const char* codingName(Coding c); // "gsm7", "8bit", "ucs2"

// A concatenated message's part (user data header element 0, or 8 with a 16-bit
// reference). parts == 0: the message is not concatenated.
struct Concat {
    int ref = 0;
    int parts = 0;
    int part = 0;
};

struct Tpdu {
    bool deliver = false;      // SMS-DELIVER
    bool statusReport = false; // SMS-STATUS-REPORT; neither: SMS-SUBMIT
    std::string smsc;          // the SMSC part's number; empty when the PDU had none or length 0
    int firstOctet = 0;
    int mr = 0; // SUBMIT, STATUS-REPORT: the message reference
    // Destination (SUBMIT), originator (DELIVER) or recipient (STATUS-REPORT): "+4479...",
    // "0812...", "VM-BANK".
    std::string number;
    int toa = 0x81; // type of address
    int pid = 0;
    int dcs = 0;
    Coding coding = Coding::Gsm7;
    std::string scts; // DELIVER, STATUS-REPORT: yy/MM/dd,hh:mm:ss+zz
    std::string dt;   // STATUS-REPORT: discharge time, yy/MM/dd,hh:mm:ss+zz
    int st = 0;       // STATUS-REPORT: TP-Status (0 delivered, 0x40.. permanent error, ...)
    std::string udh;  // the header's information elements (without its length octet)
    Concat concat;
    std::string text; // the user data's text in UTF-8 (8-bit data: each octet a character)
};

// GSM 7-bit septets (one byte each, 0..127) packed into octets, the first septet
// starting `fillBits` bits in (the fill after a user data header).
std::string packSeptets(std::string_view septets, int fillBits = 0);
// `count` septets from packed octets, skipping `fillBits` first.
std::string unpackSeptets(std::string_view octets, size_t count, int fillBits = 0);

// The PDU that AT+CMGS / AT+CMGW take: hex digits, the SMSC part (its length octet, "00"
// for the one set with AT+CSCA) and then the TPDU, whose octets `length` counts. False
// with `error` for odd or bad hex, a length that does not match (a PDU without its SMSC
// part too), a bad address, a bad user data header or truncated user data.
bool parsePdu(std::string_view hex, int length, Tpdu& out, std::string& error);
// The TPDU alone (no SMSC part).
bool parseTpdu(std::string_view octets, Tpdu& out, std::string& error);

// The coding a text goes out in: GSM 7-bit when the alphabet carries it, UCS2 otherwise.
Coding codingFor(std::string_view utf8);

struct EncodedPdu {
    std::string hex; // the whole PDU with its SMSC part, upper-case hex
    int length = 0;  // the TPDU's octets (AT+CMGL's <length>)
};
// An SMS-DELIVER from `number` with `utf8`, time stamp `scts` (yy/MM/dd,hh:mm:ss+zz), and
// `smsc` in the SMSC part (empty: length 0). A text longer than one message is cut
// where the user data is full.
EncodedPdu encodeDeliver(const std::string& smsc, const std::string& number,
                         const std::string& utf8, const std::string& scts,
                         const Concat& concat = {});
// An SMS-SUBMIT to `number` (may be empty) with relative validity `vp` (167, as
// AT+CSMP shows, is 24 hours).
EncodedPdu encodeSubmit(const std::string& smsc, const std::string& number, const std::string& utf8,
                        const Concat& concat = {}, int mr = 0, int vp = 167);

// An SMS-STATUS-REPORT (as the result of an SMS-SUBMIT) for message reference `mr` sent to
// `number`: the service centre got it at `scts`, its fate was settled at `dt` with
// TP-Status `st`.
EncodedPdu encodeStatusReport(const std::string& smsc, int mr, const std::string& number,
                              const std::string& scts, const std::string& dt, int st);

// A long text cut into parts that each fit one concatenated message (153 septets, or
// 67 UCS2 units), never inside a character. One part when it fits one message.
std::vector<std::string> splitForConcat(const std::string& utf8);

} // namespace sim
