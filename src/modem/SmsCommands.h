#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

class AppContext;
class SerialPort;

// The text-mode SMS commands. Every exchange goes through ExecuteCommand; the answers
// are kept in ctx.modem.LastResponse. A send result that contains "ERROR" is a failure
// (ctx.modem.LastSendFailure then says why), anything else a success: a message counts
// as sent only once the modem confirmed it ("+CMGS: n" / "+CMSS: n", then OK), and the
// reference n of each part is kept in ctx.modem.LastSendReferences. Texts go
// out in the modem's character set (modem/SmsText.h); one it cannot carry is not sent.

// Longest part of a message; longer texts go out as independent parts.
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

// Writes a message into SIM storage (AT+CMGW, the text after the modem's prompt). CR LF
// pairs of `text` become LF in place. Returns the storage index as text, or Empty.
QVariant StoreMessage(AppContext& ctx, SerialPort& comm, const QString& number, QString& text);

// Sends the stored message at `index` (AT+CMSS); returns the answer.
QVariant SendStoredMessage(AppContext& ctx, SerialPort& comm, int index);

// Sends a message straight away (AT+CMGS per part of 160 positions; an empty message is
// one empty part). CR LF pairs of `text` become LF in place. A prompt that does not come
// in time is followed by ESC, so that the modem leaves text entry.
QVariant SendMessageDirect(AppContext& ctx, SerialPort& comm, const QString& number, QString& text);

// Store and deliver: per part, stores it on the SIM, sends it from there and deletes the
// stored copy, also when sending it fails. Returns "ERROR" on failure.
QVariant SendMessageViaSim(AppContext& ctx, SerialPort& comm, const QString& number,
                           const QString& text);
