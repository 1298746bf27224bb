#pragma once

#include <QString>
#include <QStringList>

class AppContext;

// Message texts on the wire in SMS text mode: the modem reads and writes texts in the
// character set chosen with AT+CSCS:
//  - "GSM": the GSM 7-bit default alphabet, one byte per character;
//  - "ANSI" and "8859-1": ISO 8859-1, one byte per character;
//  - "ASCII" and "IRA" (and any set the program does not know): 7-bit ASCII.
// The wire text is a QString whose characters are all below 256, one per byte, as the
// serial control sends and receives it.
//
// Ctrl-Z (26) ends a text and ESC (27) cancels it, so neither is ever carried inside a
// text. In the GSM set that rules out the extension table (form feed, ^ { } \ [ ~ ] | and
// the euro sign, which would be written ESC + code) and the Greek capital Xi, whose code
// is 26: those characters go out only in PDU mode (modem/SmsPdu.h).
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

// How many character positions of a message part `text` takes in `characterSet`: one
// per character (one the set cannot carry counts one too).
int smsLength(const QString& text, const QString& characterSet);

// The parts a message goes out in: at most `partLength` positions each, cut in order
// without splitting a character. None for an empty text.
QStringList splitSmsParts(const QString& text, const QString& characterSet, int partLength);

// The character set the modem settings name (ModemSetting.CharacterSet, trimmed); "" when
// no settings are stored. Throws DbError.
QString storedCharacterSet(AppContext& ctx);

// The user-facing description of characters that cannot be sent, e.g.
// "€ (U+20AC), 😀 (U+1F600)". Control characters are shown by their code alone.
QString describeCharacters(const QString& characters);

// ---- the message format -----------------------------------------------------------------

// How messages travel between the program and the modem (ModemSetting.MessageFormat):
// "Text" (SMS text mode, the default; also for an empty or unknown value) or "PDU".
inline constexpr const char* MessageFormatText = "Text";
inline constexpr const char* MessageFormatPdu = "PDU";
bool isPduFormat(const QString& stored);
// The stored format: true for PDU. False when no settings are stored. Throws DbError.
bool storedPduMode(AppContext& ctx);

// What a message text takes in the chosen format, for the windows where it is typed.
struct MessageSize {
    int units = 0; // text mode: characters; PDU: GSM septets or UTF-16 units
    int parts = 0; // SMS it goes out in
    bool tooLong = false; // beyond what the windows accept: 160 characters in text mode,
                          // pdu::MaxParts parts in PDU mode
    QString shown;        // the counter a window shows under the text
};
MessageSize measureMessage(const QString& text, bool pduMode, const QString& characterSet);
// The longest start of `text` that is not too long (whole characters).
QString fitMessage(const QString& text, bool pduMode, const QString& characterSet);
// The longest text the windows accept in text mode.
inline constexpr int TextModeMaxLength = 160;
