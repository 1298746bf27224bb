// SMS PDUs as the modem lists them, written by the fuzzer: odd or non-hex digits, wrong
// lengths, unknown codings, headers that point past the data, addresses of any length.
// Reading one must never crash; it is either refused with a reason or read whole.
//
// The same input also makes a text and a number for the program's own encoder: every
// PDU it writes must read back as the part it carries, in order, and the parts joined
// must be the text (or the text is refused as needing too many parts).
#include "FuzzCheck.h"
#include "modem/SmsPdu.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Characters of every kind the encoder meets: the GSM alphabet, its extension table,
// Latin-1 letters outside it, Cyrillic, Devanagari, CJK, emoji.
const char32_t kPool[] = {U'a', U'Z', U'0', U' ', U'@', U'\n', U'\r', U'$', U'\u00A3', U'\u00E9',
                          U'\u0394', U'_', U'{', U'}', U'[', U']', U'~', U'^', U'|', U'\\',
                          U'\f', U'\u20AC', U'\u00E7', U'\u0436', U'\u0928', U'\u4E2D',
                          U'\U0001F600', U'\u00FF', U'\u0000'};

QString hexOf(const std::string& bytes) {
    static const char* const digits = "0123456789ABCDEF";
    QString hex;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        hex += QLatin1Char(digits[b >> 4]);
        hex += QLatin1Char(digits[b & 15]);
    }
    return hex;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);

    // A PDU from the modem: its octets as hex (now and then with a stray digit or a
    // character that is no digit), with or without the length the listing gave.
    {
        QString hex = hexOf(in.ConsumeRandomLengthString(200));
        if (in.ConsumeBool() && !hex.isEmpty())
            hex.insert(in.ConsumeIntegralInRange<qsizetype>(0, hex.size()),
                       QLatin1Char("0Fx \r"[in.ConsumeIntegralInRange(0, 4)]));
        const int length = in.ConsumeIntegralInRange(-1, 200);
        const pdu::Decoded d = pdu::decode(hex, length);
        FUZZ_CHECK(d.ok || !d.error.isEmpty(), QStringLiteral("refused without a reason: ") + hex);
        if (d.ok) {
            const pdu::Concat& c = d.message.concat;
            FUZZ_CHECK(c.parts == 0 || (c.part >= 1 && c.part <= c.parts),
                       QStringLiteral("a part outside its message: ") + hex);
        }
    }

    // The program's own encoder against its decoder.
    QString text;
    for (int n = in.ConsumeIntegralInRange(0, 700); n > 0 && in.remaining_bytes() > 0; --n) {
        const char32_t c = in.PickValueInArray(kPool);
        text += QString::fromUcs4(&c, 1);
    }
    QString number = in.ConsumeBool() ? QStringLiteral("+") : QString();
    for (int n = in.ConsumeIntegralInRange(1, 20); n > 0; --n)
        number += QLatin1Char("0123456789*#"[in.ConsumeIntegralInRange(0, 11)]);
    const int ref = in.ConsumeIntegralInRange(0, 255);
    const pdu::Plan plan = pdu::plan(text);
    QString error;
    const QList<pdu::Submit> parts = pdu::encodeSubmit(number, text, ref, in.ConsumeBool(), &error);
    const QString where = QStringLiteral("text %1 to %2").arg(fuzz::visible(text), number);
    if (parts.isEmpty()) {
        FUZZ_CHECK(!error.isEmpty(), where);
        FUZZ_CHECK(plan.parts > pdu::MaxParts, where + QStringLiteral(": refused: ") + error);
        return 0;
    }
    FUZZ_CHECK(parts.size() == plan.parts, where);
    QString joined;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const pdu::Decoded d = pdu::decode(parts[i].hex, parts[i].length);
        FUZZ_CHECK(d.ok, where + QStringLiteral(": part %1 unreadable (%2): %3")
                                     .arg(i + 1)
                                     .arg(d.error, parts[i].hex));
        FUZZ_CHECK(d.message.number == number, where + QStringLiteral(": number read as ") +
                                                   d.message.number);
        FUZZ_CHECK(d.message.text == parts[i].text, where);
        if (parts.size() > 1)
            FUZZ_CHECK(d.message.concat.ref == ref && d.message.concat.part == i + 1 &&
                           d.message.concat.parts == parts.size(),
                       where);
        joined += d.message.text;
    }
    FUZZ_CHECK(joined == text, where + QStringLiteral(" read back as ") + fuzz::visible(joined));
    return 0;
}
