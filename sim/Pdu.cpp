#include "Pdu.h"

#include "Charset.h"

#include <cstdio>

namespace sim {

namespace {

constexpr size_t MaxUserData = 140;     // octets
constexpr size_t MaxSeptets = 160;      // GSM 7-bit user data
constexpr size_t MaxAddressDigits = 20; // semi-octets of an address

using Octets = std::string;

unsigned octet(std::string_view s, size_t i) {
    return static_cast<unsigned char>(s[i]);
}

// ---- addresses --------------------------------------------------------------------------

const char DigitOf[] = "0123456789*#abc"; // semi-octet values 0..14; 15 is the filler

bool parseAddress(std::string_view o, size_t& pos, std::string& number, int& toa,
                  std::string& error) {
    if (pos + 2 > o.size()) {
        error = "truncated address";
        return false;
    }
    const size_t digits = octet(o, pos);
    toa = static_cast<int>(octet(o, pos + 1));
    const size_t bytes = (digits + 1) / 2;
    if (digits > MaxAddressDigits || !(toa & 0x80)) {
        error = "bad address";
        return false;
    }
    if (pos + 2 + bytes > o.size()) {
        error = "truncated address";
        return false;
    }
    std::string_view v = o.substr(pos + 2, bytes);
    pos += 2 + bytes;
    number.clear();
    if (((toa >> 4) & 7) == 5) { // alphanumeric, GSM 7-bit
        number = toUtf8(gsmDecode(unpackSeptets(v, digits * 4 / 7)));
        return true;
    }
    for (size_t k = 0; k < digits; ++k) {
        unsigned nibble = (octet(v, k / 2) >> (k % 2 ? 4 : 0)) & 15;
        if (nibble == 15) {
            error = "bad address";
            return false;
        }
        number += DigitOf[nibble];
    }
    if (digits % 2 && (octet(v, bytes - 1) >> 4) != 15) {
        error = "bad address";
        return false;
    }
    if (((toa >> 4) & 7) == 1 && !number.empty()) number = "+" + number;
    return true;
}

// The SMSC part after its length octet: type of address, then digits (a last 0xF
// filler leaves one out).
bool parseSmsc(std::string_view field, std::string& number) {
    if (field.size() > 11 || !(octet(field, 0) & 0x80)) return false;
    number.clear();
    for (size_t k = 2; k < field.size() * 2; ++k) {
        const unsigned nibble = (octet(field, k / 2) >> (k % 2 ? 4 : 0)) & 15;
        if (nibble == 15) {
            if (k != field.size() * 2 - 1) return false;
            break;
        }
        number += DigitOf[nibble];
    }
    if (((octet(field, 0) >> 4) & 7) == 1) number = "+" + number;
    return true;
}

bool isDialString(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#')) return false;
    return true;
}

// Semi-octets of a dial string, low nibble first, 0xF filling the last octet.
Octets semiOctets(std::string_view digits) {
    Octets r;
    for (size_t k = 0; k < digits.size(); k += 2) {
        auto value = [](char c) -> unsigned {
            return c == '*' ? 10 : c == '#' ? 11 : static_cast<unsigned>(c - '0');
        };
        unsigned lo = value(digits[k]);
        unsigned hi = k + 1 < digits.size() ? value(digits[k + 1]) : 15;
        r += static_cast<char>(hi << 4 | lo);
    }
    return r;
}

// Address field: length, type of address, value. "+" and digits are international,
// digits alone unknown (national), anything else an alphanumeric name.
Octets addressField(const std::string& number) {
    std::string_view digits = number;
    if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
    if (number.empty()) return Octets{0, static_cast<char>(0x81)};
    if (isDialString(digits) && digits.size() <= MaxAddressDigits) {
        Octets r{static_cast<char>(digits.size()),
                 static_cast<char>(digits.size() < number.size() ? 0x91 : 0x81)};
        return r + semiOctets(digits);
    }
    std::string codes = gsmEncode(fromUtf8(number)).substr(0, 11);
    Octets r{static_cast<char>((codes.size() * 7 + 3) / 4), static_cast<char>(0xd0)};
    return r + packSeptets(codes);
}

// The SMSC part: its length octet, then type and digits; "00" without a number.
Octets smscField(const std::string& smsc) {
    std::string_view digits = smsc;
    bool international = !digits.empty() && digits[0] == '+';
    if (international) digits.remove_prefix(1);
    if (!isDialString(digits) || digits.size() > MaxAddressDigits) return Octets(1, '\0');
    Octets v = semiOctets(digits);
    return Octets{static_cast<char>(v.size() + 1), static_cast<char>(international ? 0x91 : 0x81)} +
           v;
}

// ---- time stamp ---------------------------------------------------------------------------

bool parseScts(std::string_view o, std::string& scts, std::string& error) {
    int v[7];
    for (size_t k = 0; k < 7; ++k) {
        unsigned b = octet(o, k), lo = b & 15, hi = b >> 4;
        if (k == 6) lo &= 7; // the time zone's sign bit
        if (lo > 9 || hi > 9) {
            error = "bad time stamp";
            return false;
        }
        v[k] = static_cast<int>(lo * 10 + hi);
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%02d,%02d:%02d:%02d%c%02d", v[0], v[1], v[2], v[3],
                  v[4], v[5], (octet(o, 6) & 8) ? '-' : '+', v[6]);
    scts = buf;
    return true;
}

Octets sctsField(const std::string& scts) {
    // yy/MM/dd,hh:mm:ss+zz
    Octets r;
    for (size_t at : {0u, 3u, 6u, 9u, 12u, 15u, 18u}) {
        unsigned tens = 0, ones = 0;
        if (at + 1 < scts.size()) {
            tens = static_cast<unsigned>(scts[at] - '0') % 10;
            ones = static_cast<unsigned>(scts[at + 1] - '0') % 10;
        }
        unsigned b = ones << 4 | tens;
        if (at == 18 && scts.size() > 17 && scts[17] == '-') b |= 8;
        r += static_cast<char>(b);
    }
    return r;
}

// ---- user data -------------------------------------------------------------------------

bool codingOf(int dcs, Coding& coding, std::string& error) {
    const int group = dcs >> 4;
    if ((group & 0xc) == 0 || (group & 0xc) == 4) { // general data coding (and auto-delete)
        if (dcs & 0x20) {
            error = "compressed text is not supported";
            return false;
        }
        const int alphabet = (dcs >> 2) & 3;
        coding = alphabet == 1 ? Coding::Bit8 : alphabet == 2 ? Coding::Ucs2 : Coding::Gsm7;
        return true;
    }
    if (group == 0xe) {
        coding = Coding::Ucs2;
    } else if (group == 0xf) {
        coding = (dcs & 4) ? Coding::Bit8 : Coding::Gsm7;
    } else {
        coding = Coding::Gsm7; // message waiting groups and reserved codings: GSM 7-bit
    }
    return true;
}

bool parseHeader(std::string_view h, Concat& concat, std::string& error) {
    for (size_t i = 0; i < h.size();) {
        if (i + 2 > h.size() || i + 2 + octet(h, i + 1) > h.size()) {
            error = "bad user data header";
            return false;
        }
        const unsigned iei = octet(h, i), len = octet(h, i + 1);
        std::string_view d = h.substr(i + 2, len);
        if (iei == 0 && len == 3)
            concat = {static_cast<int>(octet(d, 0)), static_cast<int>(octet(d, 1)),
                      static_cast<int>(octet(d, 2))};
        else if (iei == 8 && len == 4)
            concat = {static_cast<int>(octet(d, 0) << 8 | octet(d, 1)),
                      static_cast<int>(octet(d, 2)), static_cast<int>(octet(d, 3))};
        i += 2 + len;
    }
    return true;
}

bool parseUserData(std::string_view o, size_t pos, bool udhi, Tpdu& t, std::string& error) {
    if (pos >= o.size()) {
        error = "truncated user data";
        return false;
    }
    const size_t udl = octet(o, pos++);
    const bool gsm = t.coding == Coding::Gsm7;
    const size_t octets = gsm ? (udl * 7 + 7) / 8 : udl;
    if ((gsm && udl > MaxSeptets) || (!gsm && udl > MaxUserData)) {
        error = "user data too long";
        return false;
    }
    if (pos + octets > o.size()) {
        error = "truncated user data";
        return false;
    }
    if (pos + octets < o.size()) {
        error = "octets after the user data";
        return false;
    }
    std::string_view ud = o.substr(pos, octets);
    size_t headerOctets = 0;
    if (udhi) {
        if (ud.empty() || 1 + octet(ud, 0) > ud.size()) {
            error = "bad user data header";
            return false;
        }
        headerOctets = 1 + octet(ud, 0);
        t.udh = std::string(ud.substr(1, headerOctets - 1));
        if (!parseHeader(t.udh, t.concat, error)) return false;
    }
    if (gsm) {
        const size_t headerSeptets = (headerOctets * 8 + 6) / 7;
        if (headerSeptets > udl) {
            error = "bad user data header";
            return false;
        }
        // The fill bits put the text on a septet boundary: unpack everything, drop the
        // header's septets.
        const std::string septets = unpackSeptets(ud, udl).substr(headerSeptets);
        t.text = toUtf8(gsmDecode(septets));
        return true;
    }
    std::string_view body = ud.substr(headerOctets);
    if (t.coding == Coding::Bit8) {
        t.text = latin1ToUtf8(body);
        return true;
    }
    if (body.size() % 2) {
        error = "truncated user data";
        return false;
    }
    return teDecode(toHex(body), Charset::Ucs2, t.text);
}

// The user data (with its length octet) for `utf8` in `coding`, with `header` elements in
// front; the text is cut where the user data is full, never inside a character.
Octets userData(const std::string& utf8, Coding coding, const Octets& header) {
    const std::u32string chars = fromUtf8(utf8);
    const size_t headerOctets = header.empty() ? 0 : header.size() + 1;
    Octets h;
    if (!header.empty()) h = static_cast<char>(header.size()) + header;
    if (coding == Coding::Gsm7) {
        const size_t headerSeptets = (headerOctets * 8 + 6) / 7;
        std::string codes;
        for (char32_t c : chars) {
            std::string one = gsmEncode(std::u32string_view(&c, 1));
            if (headerSeptets + codes.size() + one.size() > MaxSeptets) break;
            codes += one;
        }
        const int fill = static_cast<int>(headerSeptets * 7 - headerOctets * 8);
        return static_cast<char>(headerSeptets + codes.size()) + h + packSeptets(codes, fill);
    }
    Octets body;
    for (char32_t c : chars) {
        std::string units;
        fromHex(teEncode(toUtf8(std::u32string_view(&c, 1)), Charset::Ucs2), units);
        if (headerOctets + body.size() + units.size() > MaxUserData) break;
        body += units;
    }
    return static_cast<char>(headerOctets + body.size()) + h + body;
}

Octets concatHeader(const Concat& c) {
    if (c.parts <= 0) return {};
    if (c.ref > 255)
        return Octets{8,
                      4,
                      static_cast<char>(c.ref >> 8),
                      static_cast<char>(c.ref & 255),
                      static_cast<char>(c.parts),
                      static_cast<char>(c.part)};
    return Octets{0, 3, static_cast<char>(c.ref), static_cast<char>(c.parts),
                  static_cast<char>(c.part)};
}

EncodedPdu finish(const Octets& smsc, const Octets& tpdu) {
    return {toHex(smsc + tpdu), static_cast<int>(tpdu.size())};
}

// SMS-STATUS-REPORT: reference, recipient, SC time stamp, discharge time, status, then
// the optional parameter indicator with what it announces.
bool parseStatusReport(std::string_view o, Tpdu& t, std::string& error) {
    t.statusReport = true;
    size_t pos = 1;
    if (pos >= o.size()) {
        error = "truncated PDU";
        return false;
    }
    t.mr = static_cast<int>(octet(o, pos++));
    if (!parseAddress(o, pos, t.number, t.toa, error)) return false;
    if (pos + 15 > o.size()) {
        error = "truncated PDU";
        return false;
    }
    if (!parseScts(o.substr(pos, 7), t.scts, error) ||
        !parseScts(o.substr(pos + 7, 7), t.dt, error))
        return false;
    pos += 14;
    t.st = static_cast<int>(octet(o, pos++));
    if (pos == o.size()) return true;
    const unsigned pi = octet(o, pos++);
    if (pi & 1) {
        if (pos >= o.size()) {
            error = "truncated PDU";
            return false;
        }
        t.pid = static_cast<int>(octet(o, pos++));
    }
    if (pi & 2) {
        if (pos >= o.size()) {
            error = "truncated PDU";
            return false;
        }
        t.dcs = static_cast<int>(octet(o, pos++));
        if (!codingOf(t.dcs, t.coding, error)) return false;
    }
    if (pi & 4) return parseUserData(o, pos, (t.firstOctet & 0x40) != 0, t, error);
    if (pos != o.size()) {
        error = "octets after the PDU";
        return false;
    }
    return true;
}

} // namespace

const char* codingName(Coding c) {
    return c == Coding::Gsm7 ? "gsm7" : c == Coding::Bit8 ? "8bit" : "ucs2";
}

std::string packSeptets(std::string_view septets, int fillBits) {
    std::string out;
    unsigned acc = 0;
    int bits = fillBits;
    for (unsigned char s : septets) {
        acc |= static_cast<unsigned>(s & 0x7f) << bits;
        bits += 7;
        while (bits >= 8) {
            out += static_cast<char>(acc & 0xff);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) out += static_cast<char>(acc & 0xff);
    return out;
}

std::string unpackSeptets(std::string_view octets, size_t count, int fillBits) {
    std::string out;
    for (size_t k = 0; k < count; ++k) {
        const size_t bit = static_cast<size_t>(fillBits) + k * 7;
        const size_t byte = bit / 8, shift = bit % 8;
        if (byte >= octets.size()) break;
        unsigned v = octet(octets, byte) >> shift;
        if (shift > 1 && byte + 1 < octets.size()) v |= octet(octets, byte + 1) << (8 - shift);
        out += static_cast<char>(v & 0x7f);
    }
    return out;
}

bool parseTpdu(std::string_view o, Tpdu& t, std::string& error) {
    if (o.empty()) {
        error = "empty PDU";
        return false;
    }
    t.firstOctet = static_cast<int>(octet(o, 0));
    const int mti = t.firstOctet & 3;
    if (mti == 3) {
        error = "reserved message type";
        return false;
    }
    if (mti == 2) return parseStatusReport(o, t, error);
    t.deliver = mti == 0;
    size_t pos = 1;
    if (!t.deliver) {
        if (pos >= o.size()) {
            error = "truncated PDU";
            return false;
        }
        t.mr = static_cast<int>(octet(o, pos++));
    }
    if (!parseAddress(o, pos, t.number, t.toa, error)) return false;
    if (pos + 2 > o.size()) {
        error = "truncated PDU";
        return false;
    }
    t.pid = static_cast<int>(octet(o, pos++));
    t.dcs = static_cast<int>(octet(o, pos++));
    if (!codingOf(t.dcs, t.coding, error)) return false;
    if (t.deliver) {
        if (pos + 7 > o.size()) {
            error = "truncated PDU";
            return false;
        }
        if (!parseScts(o.substr(pos, 7), t.scts, error)) return false;
        pos += 7;
    } else {
        const int vpf = (t.firstOctet >> 3) & 3;
        pos += vpf == 2 ? 1 : vpf == 0 ? 0 : 7;
    }
    return parseUserData(o, pos, (t.firstOctet & 0x40) != 0, t, error);
}

bool parsePdu(std::string_view hex, int length, Tpdu& t, std::string& error) {
    std::string o;
    if (hex.size() % 2 != 0) {
        error = "odd number of hex digits";
        return false;
    }
    if (!fromHex(hex, o)) {
        error = "not hex";
        return false;
    }
    if (length < 1) {
        error = "bad length";
        return false;
    }
    const auto n = static_cast<size_t>(length);
    t = Tpdu{};
    // The SMSC part always comes first; `length` leaves it out.
    if (o.empty() || o.size() != n + 1 + octet(o, 0)) {
        error = "length does not match the PDU";
        return false;
    }
    const size_t smscLength = octet(o, 0);
    if (smscLength > 0 && !parseSmsc(std::string_view(o).substr(1, smscLength), t.smsc)) {
        error = "bad SMSC address";
        return false;
    }
    return parseTpdu(std::string_view(o).substr(1 + smscLength), t, error);
}

Coding codingFor(std::string_view utf8) {
    return gsmCarries(fromUtf8(utf8)) ? Coding::Gsm7 : Coding::Ucs2;
}

EncodedPdu encodeDeliver(const std::string& smsc, const std::string& number,
                         const std::string& utf8, const std::string& scts, const Concat& concat) {
    const Coding coding = codingFor(utf8);
    const Octets header = concatHeader(concat);
    Octets t;
    t += static_cast<char>(0x04 | (header.empty() ? 0 : 0x40)); // no more messages waiting
    t += addressField(number);
    t += '\0';                                                    // PID
    t += static_cast<char>(coding == Coding::Gsm7 ? 0x00 : 0x08); // DCS
    t += sctsField(scts);
    t += userData(utf8, coding, header);
    return finish(smscField(smsc), t);
}

EncodedPdu encodeSubmit(const std::string& smsc, const std::string& number, const std::string& utf8,
                        const Concat& concat, int mr, int vp) {
    const Coding coding = codingFor(utf8);
    const Octets header = concatHeader(concat);
    Octets t;
    t += static_cast<char>(0x11 | (header.empty() ? 0 : 0x40)); // relative validity
    t += static_cast<char>(mr & 0xff);
    t += addressField(number);
    t += '\0';
    t += static_cast<char>(coding == Coding::Gsm7 ? 0x00 : 0x08);
    t += static_cast<char>(vp & 0xff);
    t += userData(utf8, coding, header);
    return finish(smscField(smsc), t);
}

EncodedPdu encodeStatusReport(const std::string& smsc, int mr, const std::string& number,
                              const std::string& scts, const std::string& dt, int st) {
    Octets t;
    t += static_cast<char>(0x06); // SMS-STATUS-REPORT, no more messages waiting
    t += static_cast<char>(mr & 0xff);
    t += addressField(number);
    t += sctsField(scts);
    t += sctsField(dt);
    t += static_cast<char>(st & 0xff);
    return finish(smscField(smsc), t);
}

std::vector<std::string> splitForConcat(const std::string& utf8) {
    const std::u32string chars = fromUtf8(utf8);
    const bool gsm = gsmCarries(chars);
    auto size = [&](char32_t c) -> size_t {
        return gsm ? gsmSeptets(std::u32string_view(&c, 1)) : c >= 0x10000 ? 2 : 1;
    };
    size_t total = 0;
    for (char32_t c : chars)
        total += size(c);
    const size_t whole = gsm ? 160 : 70, part = gsm ? 153 : 67;
    if (total <= whole) return {utf8};
    std::vector<std::string> parts;
    std::u32string cur;
    size_t used = 0;
    for (char32_t c : chars) {
        if (used + size(c) > part) {
            parts.push_back(toUtf8(cur));
            cur.clear();
            used = 0;
        }
        cur += c;
        used += size(c);
    }
    if (!cur.empty()) parts.push_back(toUtf8(cur));
    return parts;
}

} // namespace sim
