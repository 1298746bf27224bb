#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class AppContext;
class SerialPort;

// The SMS commands, in text mode or in PDU mode (ctx.modem.PduMode). Every exchange goes
// through ExecuteCommand; the answers are kept in ctx.modem.LastResponse. A send result
// that contains "ERROR" is a failure (ctx.modem.LastSendFailure then says why), anything
// else a success: a message counts as sent only once the modem confirmed every part of
// it ("+CMGS: n" / "+CMSS: n", then OK); the references it gave are in
// ctx.modem.LastSendReferences, one per confirmed part.
//
// Text mode: texts go out in the modem's character set (modem/SmsText.h); one it cannot
// carry is not sent. A text longer than one SMS goes out as independent SMS of
// SmsPartLength characters (text mode has no way to join them).
// PDU mode: the program writes the PDUs itself (modem/SmsPdu.h): any text, a long one
// as one concatenated message of up to pdu::MaxParts parts (AT+CMGS=<length>,
// AT+CMGW=<length>); the listing is AT+CMGL=<stat> and its PDUs are read into the same
// arrays as in text mode, with ctx.modem.SimMessageInfo telling the parts of
// concatenated messages, status reports, and PDUs that could not be read.

// Longest part of a message in text mode; longer texts go out as independent parts.
inline constexpr int SmsPartLength = 160;

// Lists the SIM's messages with the given status ("ALL", "REC UNREAD", ...; upper-cased)
// into ctx.modem.SimMessageCount and the four Sim* arrays (count + 1 slots). Skipped
// (count 0, arrays untouched) while a call is in progress, the modem is busy or not
// connected, or when the listing fails. A call in progress leaves ModemBusy set.
void ListMessages(AppContext& ctx, SerialPort& comm, QString status, int delay);

// Lists the messages of a status and deletes each one listed.
void DeleteListedMessages(AppContext& ctx, SerialPort& comm, QString status);
// The two halves of DeleteListedMessages, for callers that delete one message per turn of
// the event loop: the listing, which gives the storage indexes to delete, and the delete
// of one listed message.
QStringList ListMessagesToDelete(AppContext& ctx, SerialPort& comm, QString status);
void DeleteListedMessage(AppContext& ctx, SerialPort& comm, const QString& index);

// Deletes the message at a storage index; returns the answer.
QVariant DeleteMessage(AppContext& ctx, SerialPort& comm, int index);

// Writes a message into SIM storage in text mode (AT+CMGW, the text after the modem's
// prompt). CR LF pairs of `text` become LF in place. Returns the storage index as text,
// or Empty.
QVariant StoreMessage(AppContext& ctx, SerialPort& comm, const QString& number, QString& text);

// Sends the stored message at `index` (AT+CMSS); returns the answer.
QVariant SendStoredMessage(AppContext& ctx, SerialPort& comm, int index);

// Sends a message straight away (AT+CMGS per part; an empty message is one empty part). CR LF pairs of `text` become LF in place. A prompt that does not come
// in time is followed by ESC, so that the modem leaves text entry.
QVariant SendMessageDirect(AppContext& ctx, SerialPort& comm, const QString& number, QString& text);

// Store and deliver: per part, stores it on the SIM, sends it from there and deletes the
// stored copy, also when sending it fails. Returns "ERROR" on failure.
QVariant SendMessageViaSim(AppContext& ctx, SerialPort& comm, const QString& number,
                           const QString& text);
