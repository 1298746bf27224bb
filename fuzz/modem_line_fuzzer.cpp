// Everything the modem says goes through the line reader: arbitrary bytes, cut into
// arbitrary reads, arrive while no command waits and while commands of every kind wait
// for their answers; exchanges begin and end, and the line settles, at arbitrary points.
//
// The input is what the modem sends. A byte 0xFF starts a control, said by the byte
// after it (0xFF 0xFF stands for a data byte 0xFF):
//   0x00-0x3F  a command is written (ending the exchange before it): its low four bits
//              pick the command, bits 4-5 the answer the caller expects ("", "OK", ">",
//              "+CMGS:")
//   0x40       the exchange ends
//   0x41       the line settles (it has been quiet)
//   0x42       the call reports are taken
//   other      a read ends here
// Data between controls is fed as one read.
//
// What must hold:
//  - every call report taken is a call report, and was a whole line of what the modem
//    sent, in arrival order, each line once (a dropped prompt may stand before it, and
//    the unfinished line of a listing given up on is dropped);
//  - a complete judgement has a final line of the right kind for the command, that was a
//    whole line of the answer: a listing ends only at OK or an error after which nothing
//    but reports came; the prompt only as the last thing received, at a line start; a
//    message text's OK only after its confirmation; a plain answer at its first final
//    line;
//  - once a plain answer, a message text's or a prompt's error is complete, more data
//    does not change how it ended.
#include "FuzzCheck.h"
#include "modem/AtAnswer.h"

#include <optional>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

const char* const kCommands[16] = {
    "AT\r",
    "AT+CGMI\r",
    "AT+CMGL=\"ALL\"\r",
    "AT+CMGL=\"REC UNREAD\"\r",
    "AT+CLCC\r",
    "AT+CMGS=\"+447700900123\"\r",
    "AT+CMGW=\"+447700900123\"\r",
    "Meet at 5, OK?\r\nRING me\x1a",
    "AT+CMSS=3\r",
    "AT+CMGD=1\r",
    "AT+CLIP=1\r",
    "ATE0\r",
    "AT+CSCS=\"GSM\"\r",
    "AT+CMGF=1\r",
    "ATD+447700900123;\r",
    "",
};
const char* const kExpected[4] = {"", "OK", ">", "+CMGS:"};

bool blank(QChar c) {
    return c == u' ' || c == u'\r' || c == u'\t';
}

// A line without surrounding blanks; with `prompts`, also without prompts before it.
QString stripped(QStringView line, bool prompts = false) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && (blank(line.at(begin)) || (prompts && line.at(begin) == u'>')))
        ++begin;
    while (end > begin && blank(line.at(end - 1)))
        --end;
    return line.mid(begin, end - begin).toString();
}

// The lines of a stream that have ended, and what follows the last line end.
QStringList endedLines(const QString& stream, QString* rest = nullptr) {
    QStringList lines;
    qsizetype from = 0;
    for (qsizetype end; (end = stream.indexOf(kCrLf, from)) >= 0; from = end + 2)
        lines << stream.mid(from, end - from);
    if (rest) *rest = stream.mid(from);
    return lines;
}

// "+CMGS: 12" and the like: the modem took a message text.
bool confirmationLine(const QString& line) {
    const QString t = stripped(line);
    for (const char* p : {"+CMGS:", "+CMGW:", "+CMSS:"}) {
        if (!t.startsWith(QLatin1String(p))) continue;
        const QString n = stripped(QStringView(t).mid(6));
        if (n.isEmpty()) return false;
        for (const QChar c : n) {
            if (!c.isDigit()) return false;
        }
        return true;
    }
    return false;
}

const char* kindName(at::Kind k) {
    switch (k) {
    case at::Kind::Plain:
        return "plain";
    case at::Kind::Listing:
        return "listing";
    case at::Kind::Prompt:
        return "prompt";
    case at::Kind::Confirm:
        return "confirm";
    }
    return "?";
}

class Run {
public:
    void feed(const QString& data) {
        if (data.isEmpty()) return;
        line_.feed(data);
        pending_ += data;
        QString rest;
        for (const QString& l : endedLines(pending_, &rest)) {
            sent_ << l;
            drops_ << pendingDrops_;
            pendingDrops_.clear();
        }
        pending_ = rest;
        if (line_.answering()) {
            answer_ += data;
            checkAnswer();
        }
    }

    // Exchanges never nest: one still waiting ends before the next command is written.
    void begin(int command, int expected) {
        end();
        const QString c = QString::fromLatin1(kCommands[command]);
        kind_ = at::kindOf(c, QString::fromLatin1(kExpected[expected]));
        own_ = kind_ == at::Kind::Confirm ? QString() : at::ownPrefix(c);
        line_.beginAnswer(c, kind_);
        // What the answer is judged on: the unfinished line from before, then what comes.
        answer_ = line_.reader().partialLine();
        held_.reset();
        checkAnswer();
    }

    void end() {
        if (!line_.answering()) return;
        checkAnswer();
        // The unfinished line of a listing given up on is message text: it is dropped, and
        // the line goes on from here.
        if (kind_ == at::Kind::Listing && !line_.judge().complete && !pending_.isEmpty())
            pendingDrops_ << pending_.size();
        line_.endAnswer();
    }

    void settle() { line_.settle(); }

    void takeReports() {
        for (const QString& report : line_.takeReports()) {
            const QString where = QStringLiteral("report %1; lines sent %2")
                                      .arg(fuzz::visible(report), fuzz::visible(sent_));
            FUZZ_CHECK(at::isCallReport(report), where);
            FUZZ_CHECK(report == stripped(report), where);
            while (matched_ < sent_.size() && !sentAs(matched_, report))
                ++matched_;
            FUZZ_CHECK(matched_ < sent_.size(), where);
            ++matched_;
        }
    }

private:
    // Whether sent line k, or what is left of it after a drop, is `report`.
    bool sentAs(qsizetype k, const QString& report) const {
        if (stripped(sent_.at(k), true) == report) return true;
        for (const qsizetype from : drops_.at(k)) {
            if (stripped(QStringView(sent_.at(k)).mid(from), true) == report) return true;
        }
        return false;
    }

    void checkAnswer() {
        const at::Judgement j = line_.judge();
        QString partial;
        const QStringList lines = endedLines(answer_, &partial);
        const QString where =
            QStringLiteral("%1 answer %2\njudged: complete %3, final line %4, lines %5")
                .arg(QLatin1String(kindName(kind_)), fuzz::visible(answer_))
                .arg(j.complete)
                .arg(fuzz::visible(j.finalLine), fuzz::visible(j.lines));

        if (held_ && !(j.complete && j.finalLine == held_->finalLine && j.final == held_->final))
            fuzz::broken("a complete answer changed as more arrived", __FILE__, __LINE__,
                         where + QStringLiteral("\nwas ended by ") +
                             fuzz::visible(held_->finalLine));
        if (!j.complete) return;
        FUZZ_CHECK(j.final != at::Final::None, where);

        if (j.final == at::Final::Prompt) {
            // The prompt is the last thing said: the unfinished line, or (reports after it
            // aside) the last whole line.
            FUZZ_CHECK(kind_ == at::Kind::Prompt, where);
            QString last = stripped(partial);
            for (qsizetype k = lines.size() - 1; last.isEmpty() && k >= 0; --k) {
                if (!stripped(lines.at(k)).isEmpty() && !at::isUnsolicited(lines.at(k), own_))
                    last = stripped(lines.at(k));
            }
            FUZZ_CHECK(last == QLatin1String(">"), where);
            return;
        }
        FUZZ_CHECK(at::finalResult(j.finalLine) == j.final, where);
        FUZZ_CHECK(j.finalLine == stripped(j.finalLine), where);
        bool whole = false;
        for (const QString& l : lines)
            whole = whole || stripped(l) == j.finalLine;
        FUZZ_CHECK(whole, where);
        FUZZ_CHECK(j.text.endsWith(kCrLf) && j.text.contains(j.finalLine), where);

        switch (kind_) {
        case at::Kind::Listing: {
            FUZZ_CHECK(j.final == at::Final::Ok || at::isError(j.final), where);
            FUZZ_CHECK(partial.isEmpty(), where);
            QString last;
            for (const QString& l : lines) {
                if (!stripped(l).isEmpty() && !at::isUnsolicited(l, own_)) last = stripped(l);
            }
            FUZZ_CHECK(last == j.finalLine, where);
            break;
        }
        case at::Kind::Prompt:
            FUZZ_CHECK(at::isError(j.final) || j.final == at::Final::NoCarrier, where);
            break;
        case at::Kind::Confirm: {
            bool confirmed = false;
            for (const QString& l : lines)
                confirmed = confirmed || confirmationLine(l);
            FUZZ_CHECK(at::isError(j.final) || j.final == at::Final::NoCarrier ||
                           (j.final == at::Final::Ok && confirmed),
                       where);
            break;
        }
        case at::Kind::Plain:
            for (const QString& l : j.lines)
                FUZZ_CHECK(at::finalResult(l) == at::Final::None, where);
            break;
        }
        // A hang-up alone stands for the answer only while nothing else has come.
        if (kind_ != at::Kind::Listing && j.final != at::Final::NoCarrier && !held_) held_ = j;
    }

    at::ModemLine line_;
    QStringList sent_;              // the lines the modem sent, in order
    QList<QList<qsizetype>> drops_; // for each, where the line reader dropped its start
    QString pending_;               // what it sent after the last line end
    QList<qsizetype> pendingDrops_;
    qsizetype matched_ = 0;

    at::Kind kind_ = at::Kind::Plain;
    QString own_;
    QString answer_;
    std::optional<at::Judgement> held_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Run run;
    std::string read;
    auto flush = [&] {
        run.feed(fuzz::latin1(read));
        read.clear();
    };
    for (size_t i = 0; i < size; ++i) {
        if (data[i] != 0xFF) {
            read += static_cast<char>(data[i]);
            continue;
        }
        if (++i == size) break;
        const uint8_t control = data[i];
        if (control == 0xFF) {
            read += static_cast<char>(0xFF);
            continue;
        }
        flush();
        if (control < 0x40)
            run.begin(control & 0x0F, (control >> 4) & 0x03);
        else if (control == 0x40)
            run.end();
        else if (control == 0x41)
            run.settle();
        else if (control == 0x42)
            run.takeReports();
    }
    flush();
    run.end();
    run.takeReports();
    return 0;
}
