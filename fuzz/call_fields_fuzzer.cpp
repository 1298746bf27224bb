// The parsers of the call reports: the caller's number in +CLIP: and +CLCC: reports, the
// call state of a call list, and the field split they share.
//
// The input, as text, is given to each parser as it is (and, split into lines, as a call
// list); the same bytes also drive a well-formed report whose parts are known.
//
// What must hold:
//  - splitting a line into fields and joining them with commas gives the line back, and
//    every field but the last has its quotes paired;
//  - a caller's number is a quote-free part of the report;
//  - a call list without a "+CLCC:" line has no call state; with one, the state is a part
//    of the first such line;
//  - a well-formed report gives its number, and a well-formed call list its state.
#include "FuzzCheck.h"
#include "modem/AtAnswer.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

QString blanks(FuzzedDataProvider& in) {
    static const char* const kinds[] = {"", " ", "  ", "\t", " \r"};
    return QLatin1String(in.PickValueInArray(kinds));
}

// Anything but a double quote, the one character a quoted field cannot hold.
QString quotable(FuzzedDataProvider& in, size_t most) {
    QString s = fuzz::latin1(in.ConsumeRandomLengthString(most));
    s.remove(u'"');
    return s;
}

bool hasControl(const QString& s) {
    for (const QChar c : s) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) return true;
    }
    return false;
}

QString digits(FuzzedDataProvider& in, int most) {
    return QString::number(in.ConsumeIntegralInRange(0, most));
}

void arbitrary(const QString& input) {
    const QString where = fuzz::visible(input);

    const QStringList fields = at::splitFields(input);
    FUZZ_CHECK(fields.join(u',') == input,
               where + QStringLiteral(" split into ") + fuzz::visible(fields));
    for (qsizetype k = 0; k + 1 < fields.size(); ++k)
        FUZZ_CHECK(fields.at(k).count(u'"') % 2 == 0, where);

    // A number is a part of the input with no quotes and no control characters.
    const QString number = at::callerNumber(input);
    FUZZ_CHECK(input.contains(number) && !number.contains(u'"') && !hasControl(number),
               where + QStringLiteral(" gave the number ") + fuzz::visible(number));

    const QStringList lines = input.split(u'\n');
    const QString state = at::callStateField(lines);
    QString first;
    bool listed = false;
    for (const QString& line : lines) {
        // Blanks, tabs and CRs may stand before a line's own text.
        qsizetype start = 0;
        while (start < line.size() &&
               (line.at(start) == u' ' || line.at(start) == u'\t' || line.at(start) == u'\r'))
            ++start;
        if (QStringView(line).mid(start).startsWith(QLatin1String("+CLCC:"))) {
            first = line;
            listed = true;
            break;
        }
    }
    if (!listed) {
        FUZZ_CHECK(state.isNull(),
                   where + QStringLiteral(" gave the state ") + fuzz::visible(state));
    } else if (!state.isNull()) {
        FUZZ_CHECK(first.contains(state),
                   where + QStringLiteral(" gave the state ") + fuzz::visible(state));
    }
}

void wellFormed(FuzzedDataProvider& in) {
    const QString number = quotable(in, 24);
    const QString name = quotable(in, 16);
    const QString state = digits(in, 5);

    QString clip = QStringLiteral("+CLIP:") + blanks(in) + u'"' + number + u'"' + blanks(in) +
                   u',' + digits(in, 255);
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        clip += QStringLiteral(",\"\",,\"\",0");
        break;
    case 1:
        clip += QStringLiteral(",\"\",128,\"%1\",0").arg(name);
        break;
    default:
        break;
    }
    clip = blanks(in) + clip + blanks(in);
    const QString expected = hasControl(number) ? QString() : number;
    FUZZ_CHECK(at::callerNumber(clip) == expected, fuzz::visible(clip) + QStringLiteral(" gave ") +
                                                       fuzz::visible(at::callerNumber(clip)));

    QString clcc = QStringLiteral("+CLCC:") + blanks(in) + digits(in, 7) + u',' + digits(in, 1) +
                   u',' + state + u',' + digits(in, 9) + u',' + digits(in, 1) +
                   QStringLiteral(",\"") + number + QStringLiteral("\",") + digits(in, 255);
    if (in.ConsumeBool()) clcc += QStringLiteral(",\"") + name + u'"';
    clcc = blanks(in) + clcc + blanks(in);
    FUZZ_CHECK(at::callerNumber(clcc) == expected, fuzz::visible(clcc) + QStringLiteral(" gave ") +
                                                       fuzz::visible(at::callerNumber(clcc)));

    // The call list: other lines, this call, then a second call.
    QStringList list;
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        QString other = quotable(in, 20);
        if (other.trimmed().startsWith(QLatin1String("+CLCC:"))) other.prepend(u'x');
        list << other;
    }
    list << clcc << QStringLiteral("+CLCC: 2,1,5,0,0,\"+447700900999\",145");
    FUZZ_CHECK(at::callStateField(list) == state, fuzz::visible(list) + QStringLiteral(" gave ") +
                                                      fuzz::visible(at::callStateField(list)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    arbitrary(fuzz::latin1(data, size));
    FuzzedDataProvider in(data, size);
    wellFormed(in);
    return 0;
}
