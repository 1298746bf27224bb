// A message listing (AT+CMGL) whose texts the fuzzer writes: any characters, line breaks,
// "OK", "ERROR", "RING", "+CLIP: ...", "NO CARRIER", "> ", NUL, the command's own echo...
// The listing comes with or without the echo, with reports before it (some while no
// command waits yet) and after its final line (some once the exchange is over), and
// arrives cut into reads at arbitrary points.
//
// What must hold once everything is fed:
//  - the answer is complete, ended by its own final OK;
//  - every entry is listed with its index, status and number, and its text exactly;
//  - the call reports taken are exactly the call reports sent around the answer, in
//    order: none comes from a message text;
//  - when the exchange gave up before the listing had all come, and its rest arrives
//    while no command waits, still no report comes from a text (reports after the
//    listing may be lost until the line can tell).
//
// Text mode cannot tell a text line that is itself a listing entry's header from a new
// entry, so no text line starts with "+CMGL: " and a comma.
#include "FuzzCheck.h"
#include "modem/AtAnswer.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
const QString kCommand = QStringLiteral("AT+CMGL=\"ALL\"\r");

const char* const kStatuses[] = {"REC UNREAD", "REC READ", "STO UNSENT", "STO SENT"};

// Pieces of message texts that look like what the modem itself says.
const char* const kHostile[] = {
    "\r\n",
    "OK",
    "ERROR",
    "+CMS ERROR: 500",
    "+CME ERROR: 10",
    "RING",
    "+CRING: VOICE",
    "+CLIP: \"+447700900123\",145,\"\",,\"\",0",
    "+CLCC: 1,1,4,0,0,\"+447700900123\",145",
    "NO CARRIER",
    "> ",
    ">",
    "+CMGL: 7,\"REC READ\",\"+447700900666\",\"\",\"26/12/08,10:00:00+00\"",
    "+CMGL: ",
    "AT+CMGL=\"ALL\"",
    "+CMT: \"+447700900123\",,\"26/12/08,10:00:00+00\"",
    "+CMTI: \"SM\",5",
    "^RSSI:3",
    "+CMGS: 12",
    "\r",
    "\n",
    " ",
};

// A report sent between answers, and the call reports it holds.
struct Report {
    QString sent;
    QStringList calls;
};

QString number(FuzzedDataProvider& in, size_t most) {
    QString n;
    for (const char c : in.ConsumeRandomLengthString(most))
        n += QLatin1Char("0123456789+"[static_cast<unsigned char>(c) % 11]);
    return n;
}

Report report(FuzzedDataProvider& in, bool withText) {
    const QString from = number(in, 16);
    switch (in.ConsumeIntegralInRange(0, withText ? 8 : 7)) {
    case 0:
        return {QStringLiteral("RING"), {QStringLiteral("RING")}};
    case 1:
        return {QStringLiteral("+CRING: VOICE"), {QStringLiteral("+CRING: VOICE")}};
    case 2: {
        const QString clip = QStringLiteral("+CLIP: \"%1\",145,\"\",,\"\",0").arg(from);
        return {clip, {clip}};
    }
    case 3:
        return {QStringLiteral("NO CARRIER"), {QStringLiteral("NO CARRIER")}};
    case 4: {
        const QString clcc = QStringLiteral("+CLCC: 1,1,4,0,0,\"%1\",145").arg(from);
        return {clcc, {clcc}};
    }
    case 5:
        return {QStringLiteral("^RSSI:14"), {}};
    case 6:
        return {QStringLiteral("+CMTI: \"SM\",5"), {}};
    case 7:
        return {QStringLiteral("+CREG: 1"), {}};
    default: {
        // A message shown as it arrives: its text, one line of anything, follows.
        QString text = fuzz::latin1(in.ConsumeRandomLengthString(40));
        text.remove(u'\n');
        return {QStringLiteral("+CMT: \"%1\",,\"26/12/08,10:15:30+22\"\r\n").arg(from) + text, {}};
    }
    }
}

QList<Report> reports(FuzzedDataProvider& in, bool withText) {
    QList<Report> list;
    for (int n = in.ConsumeIntegralInRange(0, 4); n > 0; --n)
        list << report(in, withText);
    return list;
}

QString text(FuzzedDataProvider& in, bool givenUp) {
    QString t;
    for (int n = in.ConsumeIntegralInRange(0, 8); n > 0; --n) {
        if (in.ConsumeBool())
            t += QLatin1String(in.PickValueInArray(kHostile));
        else
            t += fuzz::latin1(in.ConsumeRandomLengthString(24));
    }
    // No line may pose as an entry's header.
    QStringList lines = t.split(kCrLf);
    for (QString& line : lines) {
        if (line.startsWith(QLatin1String("+CMGL: ")) && line.contains(u',')) line.prepend(u' ');
        // Once the exchange has given up, a whole text line "OK" cannot be told from the
        // listing's end.
        if (givenUp && at::finalResult(line) != at::Final::None) line.prepend(u'x');
    }
    return lines.join(kCrLf);
}

struct Entry {
    int index;
    QString status, number, text;
};

QString framed(const QList<Report>& list, qsizetype from, qsizetype to) {
    QString s;
    for (qsizetype k = from; k < to; ++k)
        s += kCrLf + list.at(k).sent + kCrLf;
    return s;
}

void feed(at::ModemLine& line, FuzzedDataProvider& in, const QString& data) {
    for (qsizetype at = 0; at < data.size();) {
        const qsizetype n = in.ConsumeIntegralInRange<qsizetype>(1, 48);
        line.feed(data.mid(at, n));
        at += n;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);

    // The exchange may give up before the listing has all come (it took too long): the
    // rest arrives while no command waits.
    const bool givenUp = in.ConsumeBool();
    QList<Entry> entries;
    for (int n = in.ConsumeIntegralInRange(0, 5); n > 0; --n) {
        Entry e;
        e.index = in.ConsumeIntegralInRange(0, 999);
        e.status = QLatin1String(in.PickValueInArray(kStatuses));
        e.number = number(in, 16);
        e.text = text(in, givenUp);
        entries << e;
    }
    const QList<Report> early = reports(in, true); // before the echo
    const QList<Report> late = reports(in, true);  // after it
    const QList<Report> after = reports(in, false);
    const int echo = in.ConsumeIntegralInRange(0, 2);
    const qsizetype idleBefore = in.ConsumeIntegralInRange<qsizetype>(0, early.size());
    const qsizetype idleAfter = in.ConsumeIntegralInRange<qsizetype>(0, after.size());

    QString listing;
    for (const Entry& e : entries)
        listing += QStringLiteral("\r\n+CMGL: %1,\"%2\",\"%3\",\"\",\"26/12/08,10:15:30+22\"\r\n%4")
                       .arg(e.index)
                       .arg(e.status, e.number, e.text);
    listing += QStringLiteral("\r\n\r\nOK\r\n");
    QString answer = framed(early, idleBefore, early.size());
    if (echo == 1) answer += kCommand;
    if (echo == 2) answer += kCommand + u'\n';
    answer += framed(late, 0, late.size());
    const qsizetype listingAt = answer.size();
    answer += listing + framed(after, 0, after.size() - idleAfter);

    at::ModemLine line;
    feed(line, in, framed(early, 0, idleBefore));
    line.beginAnswer(kCommand, at::kindOf(kCommand, QStringLiteral("OK")));
    if (givenUp && !entries.isEmpty()) {
        // Given up anywhere after the first entry began (its CR LF and "+" came); the
        // reports before it were read.
        const qsizetype cut = in.ConsumeIntegralInRange<qsizetype>(listingAt + 3, answer.size());
        feed(line, in, answer.left(cut));
        line.endAnswer();
        feed(line, in, answer.mid(cut) + framed(after, after.size() - idleAfter, after.size()));
        // The reports before the listing were read. Until the listing's rest is over the
        // line cannot tell a report from a text line: later reports may be lost then, but
        // none may come from a text.
        QStringList read, later;
        for (const QList<Report>* list : {&early, &late}) {
            for (const Report& r : *list)
                read << r.calls;
        }
        for (const Report& r : after)
            later << r.calls;
        const QStringList taken = line.takeReports();
        const QString detail = QStringLiteral("given up after %1 of %2\nreports %3")
                                   .arg(cut)
                                   .arg(fuzz::visible(answer), fuzz::visible(taken));
        FUZZ_CHECK(taken.mid(0, read.size()) == read, detail);
        qsizetype next = 0;
        for (const QString& r : taken.mid(read.size())) {
            while (next < later.size() && later.at(next) != r)
                ++next;
            FUZZ_CHECK(next < later.size(), detail);
            ++next;
        }
        return 0;
    }
    feed(line, in, answer);

    const at::Judgement j = line.judge();
    const QString where = QStringLiteral("answer %1\njudged: complete %2, final line %3, lines %4")
                              .arg(fuzz::visible(answer))
                              .arg(j.complete)
                              .arg(fuzz::visible(j.finalLine), fuzz::visible(j.lines));
    FUZZ_CHECK(j.complete && j.final == at::Final::Ok, where);
    const QList<at::ListedMessage> listed = at::parseListing(j.lines);
    FUZZ_CHECK(listed.size() == entries.size(), where);
    for (qsizetype k = 0; k < entries.size(); ++k) {
        const Entry& e = entries.at(k);
        const at::ListedMessage& m = listed.at(k);
        const QString entry = where + QStringLiteral("\nentry %1: text %2 listed as %3")
                                          .arg(k)
                                          .arg(fuzz::visible(e.text), fuzz::visible(m.text));
        FUZZ_CHECK(m.index == QString::number(e.index), entry);
        FUZZ_CHECK(m.status == e.status, entry);
        FUZZ_CHECK(m.number == e.number, entry);
        FUZZ_CHECK(m.text == e.text, entry);
    }

    line.endAnswer();
    feed(line, in, framed(after, after.size() - idleAfter, after.size()));
    QStringList expected;
    for (const QList<Report>* list : {&early, &late, &after}) {
        for (const Report& r : *list)
            expected << r.calls;
    }
    const QStringList taken = line.takeReports();
    FUZZ_CHECK(taken == expected, where + QStringLiteral("\nreports %1, expected %2")
                                              .arg(fuzz::visible(taken), fuzz::visible(expected)));
    return 0;
}
