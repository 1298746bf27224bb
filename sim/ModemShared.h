#pragma once

// Helpers that the modem's source files share: limits, number checks and the message
// status names. Not part of the modem's interface.

#include "Json.h"
#include "Pdu.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

namespace sim::detail {

constexpr char CtrlZ = 0x1a;
constexpr char Esc = 0x1b;
// Input that waits while the modem is busy, and output that waits for the line, are
// bounded: a client that floods a slow modem loses what does not fit.
constexpr size_t MaxQueuedInput = 1 << 20;
constexpr size_t MaxQueuedOutput = 1 << 20;
// Text-entry buffer: bytes beyond it are dropped and the message is refused.
constexpr size_t MaxTextBuffer = 4096;
// The highest TPDU an SMS-SUBMIT can be: first octet, reference, a 20-digit address,
// PID, DCS, a 7-octet validity, the user data's length and 140 octets.
constexpr int MaxTpdu = 164;

inline bool isDigits(std::string_view s) {
    return !s.empty() && s.size() <= 9 &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

inline bool toInt(std::string_view s, int& value) {
    if (!isDigits(s)) return false;
    value = std::stoi(std::string(s));
    return true;
}

inline bool validDialNumber(std::string_view s) {
    if (s.empty() || s.size() > 24) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char c = s[i];
        if (std::isdigit(c) || c == '*' || c == '#') continue;
        if (c == '+' && i == 0 && s.size() > 1) continue;
        return false;
    }
    return true;
}

// In this order: their numbers in PDU mode.
inline const char* const Stats[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};

inline int statNumber(const std::string& stat) {
    for (int k = 0; k < 4; ++k)
        if (stat == Stats[k]) return k;
    return 0;
}

inline bool knownStat(const std::string& s) {
    return std::find(std::begin(Stats), std::end(Stats), s) != std::end(Stats);
}

inline void addConcat(JsonObject& o, const Concat& c) {
    if (c.parts <= 0) return;
    o.num("concatRef", c.ref).num("parts", c.parts).num("part", c.part);
}

} // namespace sim::detail
