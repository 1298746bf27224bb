#pragma once

#include <QString>

// The GSM 7-bit default alphabet and its extension table, the way SMS carries them
// (in text mode with the "GSM" character set, and in PDU mode's 7-bit user data).
namespace gsm {

// The character of a default-alphabet code (0..127); code 27 (the escape to the
// extension table) has none and gives 0xFFFF.
char16_t basicCharacter(int code);

// The character that ESC + `code` stands for, or 0 when the extension table has none.
char16_t extensionCharacter(int code);

// The code of a character: 0..127 in the default alphabet, 0x100 + code for a character
// of the extension table (written ESC + code), -1 when the alphabet has none.
int codeOf(char32_t c);

// `text` as septets (one byte each, 0..127), extension characters as ESC + code; false
// (and `septets` untouched) when a character is outside the alphabet.
bool toSeptets(const QString& text, QByteArray& septets);

// Septets read back into characters. ESC followed by a code the extension table lacks
// reads as that code's default character; ESC ESC and a trailing ESC read as a blank.
QString fromSeptets(const QByteArray& septets);

} // namespace gsm
