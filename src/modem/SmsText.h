#pragma once

#include <QString>
#include <QStringList>

class AppContext;

// Message texts on the wire. In SMS text mode the modem reads and writes texts in the
// character set chosen with AT+CSCS:
//  - "GSM": the GSM 7-bit default alphabet, one byte per character, with its extension
//    table (ESC + code) for the form feed and  ^ { } \ [ ~ ] | €, which take two;
//  - "ANSI" and "8859-1": ISO 8859-1, one byte per character;
//  - "ASCII" and "IRA" (and any set the program does not know): 7-bit ASCII.
// The wire text is a QString whose characters are all below 256, one per byte, as the
// serial control sends and receives it.
//
// Ctrl-Z (26) ends a text and ESC (27) cancels it, so neither is ever carried inside a
// text; in the GSM set that also rules out the Greek capital Xi, whose code is 26.
// A character that a set cannot carry is never replaced by another.

// The characters (whole code points) of `text` that `characterSet` cannot carry, each
// once, in the order they first appear. Empty when the whole text can be sent.
QString uncarriableCharacters(const QString& text, const QString& characterSet);

// `text` in the wire form of `characterSet`. Characters that cannot be carried are left
// out; callers check uncarriableCharacters() first.
QString encodeSmsText(const QString& text, const QString& characterSet);

// A wire text from the modem (a listed message, a sender's name) in `characterSet`,
// read back into characters. GSM codes without a character (a stray escape) read as a
// blank.
QString decodeSmsText(const QString& wire, const QString& characterSet);

// How many character positions of a message part `text` takes in `characterSet`
// (GSM extension characters count two).
int smsLength(const QString& text, const QString& characterSet);

// The parts a message goes out in: at most `partLength` positions each, cut in order
// without splitting a character (or a GSM extension pair). None for an empty text.
QStringList splitSmsParts(const QString& text, const QString& characterSet, int partLength);

// The character set the modem settings name (ModemSetting.CharacterSet, trimmed); "" when
// no settings are stored. Throws DbError.
QString storedCharacterSet(AppContext& ctx);

// The user-facing description of characters that cannot be sent, e.g.
// "€ (U+20AC), 😀 (U+1F600)". Control characters are shown by their code alone.
QString describeCharacters(const QString& characters);
