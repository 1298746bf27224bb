#pragma once

#include <QString>

// Whether a recipient number can be sent to: numeric, optionally after one leading "+"
// (blanks around it do not count). The dispatcher sends only such numbers, and the
// windows that queue typed numbers refuse the others.
bool isSendableNumber(const QString& number);
