#pragma once

#include <QString>
#include <QVariant>

class AppContext;
class SerialPort;

// The AT command exchange: every command the program sends to the modem goes through
// ExecuteCommand, and every answer is collected by ReadResponse. Outcomes are reported
// through ctx.modem (ModemBusy, CommandSucceeded, ResponseBuffer) and the returned
// answer; an invalid QVariant is the "Empty" answer (nothing was sent or the port flag
// dropped during a read).
//
// Errors of the serial control itself (SerialError, e.g. writing to a port that
// vanished) are not caught here: they reach the caller. ModemBusy is cleared and
// ExchangeDepth restored on the way out, so the flags stay usable after such an error.

// Modem waits: ModemDelayFactor x multiplier in milliseconds, rounded to the nearest
// integer (halves to even). A wait beyond 32767 ms (or below -32768) throws
// std::overflow_error("Overflow").
int delayMs(const AppContext& ctx, double multiplier);

// The one blocking pause of the modem routines (ctx.sleep; a real sleep when unset).
// The pauses before the reads of an answer end early once it is complete (ExecuteCommand).
void modemSleep(AppContext& ctx, int ms);

// Text helpers shared by the modem routines.
QString trimSpaces(const QString& text);    // removes leading/trailing blanks only
QString withoutCrLf(const QString& text);   // removes every CR LF pair
QString answerText(const QVariant& answer); // Empty -> ""

// Writes `command` (complete, with its terminator), waits up to `delay` ms (less when the
// answer is complete sooner; each later read again after up to `delay`), reads and judges
// the answer on whole lines (modem/AtAnswer.h): "OK" is held when a final OK line ends
// the answer (a listing's after one more look; a message text's after its "+CMGS: n"
// line), ">" when the prompt is the last thing the modem said. `expected` is trimmed of
// blanks; an empty one makes the first answer final. `errorMessage` is shown after three
// error answers when it is not blank. A message text (ending in Ctrl-Z) and AT+CMSS wait
// up to ConfirmWaitMs for the network's confirmation, letting window events run. An
// answer abandoned by an earlier exchange is let pass before the command is written, and
// a command asked for while another waits for its answer is refused (logged, Empty).
QVariant ExecuteCommand(AppContext& ctx, SerialPort& comm, const QString& command, int delay,
                        QString expected, int maxEmptyReads, const QString& errorMessage);

// One read pass: reads what has arrived into the line (up to six passes with data, until
// the answer holds `expected`, or "OK" when `expected` is blank). Returns the answer's
// text without leading/trailing blanks, "ERROR" when an ERROR line ended it without the
// target, or Empty when ModemConnected dropped or the port closed. Outside an exchange it
// searches ResponseBuffer for `expected` as text. `convertUnicode` has no effect.
QVariant ReadResponse(AppContext& ctx, SerialPort& comm, const QString& expected,
                      bool convertUnicode);

// Empties ResponseBuffer.
void ClearResponseBuffer(AppContext& ctx);

// Plays a .wav file (a relative name is looked up in the shared folder, where the
// program's sounds are).
// Returns false when the file is missing or no sound device exists; never disturbs
// the modem work.
bool PlayWaveFile(AppContext& ctx, const QString& fileName, bool async);
