#pragma once

#include <QString>
#include <QStringList>

// The checks and conversions behind the settings window's text boxes and lists.

// Whether a text reads as a number in the lenient sense people type numbers in: blanks
// around it, a sign before or after it, a currency sign ($), thousands separators (,),
// a decimal point and an exponent ("1e3") are all accepted; at least one digit.
bool isNumericText(const QString& text);

// The value of a text that isNumericText accepts (signs, $ and , taken into account).
double numericValue(const QString& text);

// A number rounded to the nearest whole number, halves to the even neighbour, as a
// 16-bit integer. Throws std::overflow_error("Overflow") outside -32768..32767.
int toWholeNumber(double value);

// The complaint about a polling time typed into a time box, or "" when the text is
// acceptable there (an empty text is, until the save). `receive` picks the wording of
// the receive box over the send box.
QString timeBoxComplaint(const QString& text, bool receive);

// The list values of the settings window and what is stored for them.
QStringList bitsPerSecondChoices();
QStringList dataBitsChoices();
QStringList parityChoices();      // "Even", "Odd", "None", "Mark", "Space"
QStringList stopBitChoices();     // "1", "1.5", "2"
QStringList flowControlChoices(); // "None", "Xon/Xoff", "Hardware"
QStringList characterSetChoices();
QStringList delayFactorChoices(); // "1", "1.25" ... "4"

// "Even" <-> "e" and so on; "" for anything else. The letter is read in either case.
QString parityLetter(const QString& word);
QString parityWord(const QString& letter);
// "None" <-> "0", "Xon/Xoff" <-> "1", "Hardware" <-> "2"; "" for anything else.
QString flowControlDigit(const QString& word);
QString flowControlWord(const QString& digit);
