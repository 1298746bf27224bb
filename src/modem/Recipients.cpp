#include "modem/Recipients.h"

#include "modem/Module1.h"

#include <QRegularExpression>

namespace {

// The general numeric test: an optional sign, digits with at most one decimal point,
// blanks around it allowed.
bool isNumeric(const QString& text) {
    static const QRegularExpression re(QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)\s*$)"));
    return re.match(text).hasMatch();
}

} // namespace

bool isSendableNumber(const QString& number) {
    const QString n = trimSpaces(number);
    if (n.startsWith(QLatin1Char('+'))) return isNumeric(n.mid(1));
    return isNumeric(n);
}
