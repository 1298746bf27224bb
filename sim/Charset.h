#pragma once

// Texts and their character sets.
//
// The SIM keeps message texts as Unicode (UTF-8 in a std::string). On the line, in SMS
// text mode, they travel in the TE character set chosen with AT+CSCS:
//  - "GSM": the GSM 7-bit default alphabet, one byte per character, with the
//    extension table as ESC (0x1B) + code for form feed ^ { } \ [ ~ ] | and the euro;
//  - "IRA", "ASCII": 7-bit ASCII;
//  - "8859-1", "ANSI": ISO 8859-1;
//  - "PCCP437": IBM PC code page 437;
//  - "UCS2": the hex digits of the UTF-16 code units, four per unit ("0041" for A);
//  - "HEX": the hex digits of the GSM alphabet codes, two per code.
// A character that a set lacks reads out as "?".

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// ---- UTF-8 ----------------------------------------------------------------------------
// Invalid sequences read as U+FFFD.
std::u32string fromUtf8(std::string_view utf8);
std::string toUtf8(std::u32string_view text);
bool isUtf8(std::string_view bytes);
// Each byte is the code point of the same value.
std::string latin1ToUtf8(std::string_view latin1);
// A text given on the control channel: UTF-8 when it is valid UTF-8, otherwise Latin-1
// bytes (an old-style "\xe9" escape).
std::string controlText(std::string_view bytes);

// ---- hex ------------------------------------------------------------------------------
std::string toHex(std::string_view bytes); // upper case
// False for an odd count or a character other than a hex digit.
bool fromHex(std::string_view hex, std::string& bytes);

// ---- the GSM 7-bit default alphabet ---------------------------------------------------
constexpr char GsmEscape = 0x1b;
// The code of a character: 0..127 in the default table, 0x100 + code for an extension
// character (sent as ESC + code), -1 when the alphabet has none.
int gsmCode(char32_t c);
// The character of an extension code (the byte after ESC); 0 when there is none.
char32_t gsmExtension(unsigned char code);
// Whether every character of `text` is in the alphabet (with its extension table).
bool gsmCarries(std::u32string_view text);
// Septets `text` takes: extension characters two, characters the alphabet lacks one
// (they go out as "?").
size_t gsmSeptets(std::u32string_view text);
// Codes (one byte each, ESC + code for an extension character; "?" for a character the
// alphabet lacks).
std::string gsmEncode(std::u32string_view text);
// Codes back into characters. ESC + a code without an extension character reads as the
// code's default character; a lone ESC at the end as a blank.
std::u32string gsmDecode(std::string_view codes);

// ---- TE character sets ----------------------------------------------------------------
enum class Charset { Gsm, Ira, Latin1, Pccp437, Ucs2, Hex };
// By its AT+CSCS name (any case); an unknown name is IRA.
Charset charsetNamed(std::string_view name);
// A UTF-8 text as the set writes it on the line.
std::string teEncode(std::string_view utf8, Charset set);
// Line bytes in the set back into UTF-8. False (with `utf8` as far as it got) when the
// bytes are no valid text of the set: bad hex for UCS2 and HEX.
bool teDecode(std::string_view bytes, Charset set, std::string& utf8);

} // namespace sim
