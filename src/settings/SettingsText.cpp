#include "settings/SettingsText.h"

#include <QRegularExpression>
#include <cmath>
#include <stdexcept>

namespace {

// Sign and currency sign may stand before the digits in either order, a sign may also
// follow them; digits may carry thousands separators, a fraction and an exponent.
const QRegularExpression& numericPattern() {
    static const QRegularExpression re(QStringLiteral(
        R"(^\s*([+-]?)\s*(\$?)\s*([+-]?)\s*(\d[\d,]*)?(\.\d*)?([eEdD][+-]?\d+)?\s*([+-]?)\s*$)"));
    return re;
}

} // namespace

bool isNumericText(const QString& text) {
    const QRegularExpressionMatch m = numericPattern().match(text);
    if (!m.hasMatch()) return false;
    // At least one digit before or after the decimal point.
    const QString whole = m.captured(4);
    const QString fraction = m.captured(5);
    if (whole.isEmpty() && fraction.size() < 2) return false;
    // One sign at most.
    int signs = 0;
    for (int i : {1, 3, 7})
        if (!m.captured(i).isEmpty()) ++signs;
    return signs <= 1;
}

double numericValue(const QString& text) {
    const QRegularExpressionMatch m = numericPattern().match(text);
    if (!m.hasMatch()) return 0.0;
    QString digits = m.captured(4);
    digits.remove(QLatin1Char(','));
    QString exponent = m.captured(6);
    if (!exponent.isEmpty()) exponent[0] = QLatin1Char('e');
    const QString number =
        (digits.isEmpty() ? QStringLiteral("0") : digits) + m.captured(5) + exponent;
    const double v = number.toDouble();
    const bool negative = m.captured(1) == QLatin1String("-") ||
                          m.captured(3) == QLatin1String("-") ||
                          m.captured(7) == QLatin1String("-");
    return negative ? -v : v;
}

int toWholeNumber(double value) {
    const double rounded = std::nearbyint(value); // default rounding: halves to even
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) throw std::overflow_error("Overflow");
    return static_cast<int>(rounded);
}

QString timeBoxComplaint(const QString& text, bool receive) {
    const QString t = text.trimmed();
    if (t.isEmpty()) return {};
    if (!isNumericText(t)) return QStringLiteral("Please enter numeric value.");
    if (t.contains(QLatin1Char('$'))) return QStringLiteral("Doller sign is not allowed in time.");
    if (t.contains(QLatin1Char('+'))) return QStringLiteral("Pluse sign is not allowed in time.");
    if (t.contains(QLatin1Char('-'))) return QStringLiteral("Minus sign is not allowed in time.");
    if (t.contains(QLatin1Char(','))) return QStringLiteral("Quama is not allowed in time.");
    if (numericValue(t) > 65)
        return receive ? QStringLiteral(
                             "Receive message time should be less than or equal to 65 seconds.")
                       : QStringLiteral(
                             "Send Message time should be less than or equal to 65 seconds.");
    return {};
}

QStringList bitsPerSecondChoices() {
    return {QStringLiteral("110"),    QStringLiteral("300"),    QStringLiteral("1200"),
            QStringLiteral("2400"),   QStringLiteral("4800"),   QStringLiteral("9600"),
            QStringLiteral("19200"),  QStringLiteral("38400"),  QStringLiteral("57600"),
            QStringLiteral("115200"), QStringLiteral("230400"), QStringLiteral("460800"),
            QStringLiteral("921600")};
}

QStringList dataBitsChoices() {
    return {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")};
}

QStringList parityChoices() {
    return {QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None"),
            QStringLiteral("Mark"), QStringLiteral("Space")};
}

QStringList stopBitChoices() {
    return {QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")};
}

QStringList flowControlChoices() {
    return {QStringLiteral("None"), QStringLiteral("Xon/Xoff"), QStringLiteral("Hardware")};
}

QStringList characterSetChoices() {
    return {QStringLiteral("ANSI"), QStringLiteral("ASCII"), QStringLiteral("GSM")};
}

QStringList delayFactorChoices() {
    QStringList list;
    for (int i = 0; i <= 12; ++i)
        list << QString::number(1.0 + 0.25 * i);
    return list;
}

QString parityLetter(const QString& word) {
    const int i = static_cast<int>(parityChoices().indexOf(word));
    return i < 0 ? QString() : QString(QLatin1Char("eonms"[i]));
}

QString parityWord(const QString& letter) {
    const qsizetype i = QStringLiteral("eonms").indexOf(letter.trimmed().toLower());
    return letter.trimmed().size() != 1 || i < 0 ? QString() : parityChoices().at(i);
}

QString flowControlDigit(const QString& word) {
    const qsizetype i = flowControlChoices().indexOf(word);
    return i < 0 ? QString() : QString::number(i);
}

QString flowControlWord(const QString& digit) {
    const QString d = digit.trimmed();
    if (d == QLatin1String("0")) return flowControlChoices().at(0);
    if (d == QLatin1String("1")) return flowControlChoices().at(1);
    if (d == QLatin1String("2")) return flowControlChoices().at(2);
    return {};
}
