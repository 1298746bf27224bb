#include "modem/AtAnswer.h"

#include <QRegularExpression>
#include <cctype>

namespace at {

namespace {

const QString kCrLf = QStringLiteral("\r\n");
constexpr QChar kCtrlZ = QChar(26);

// A line without its surrounding blanks and stray CRs.
QStringView trimmed(QStringView line) {
    qsizetype begin = 0;
    qsizetype end = line.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\r' || c == u'\t'; };
    while (begin < end && blank(line.at(begin)))
        ++begin;
    while (end > begin && blank(line.at(end - 1)))
        --end;
    return line.mid(begin, end - begin);
}

bool startsWith(QStringView text, const char* prefix) {
    return text.startsWith(QLatin1String(prefix));
}

// Reports whose next line is their message text or PDU (shown with AT+CNMI). A status
// report in text mode is one line; in PDU mode its length line is followed by the PDU.
bool carriesText(QStringView t) {
    return startsWith(t, "+CMT:") || startsWith(t, "+CBM:") || isPduStatusReportHeader(t);
}

bool isHexLine(QStringView t) {
    if (t.isEmpty() || t.size() % 2 != 0) return false;
    for (const QChar c : t) {
        if (!isxdigit(c.unicode() < 0x80 ? static_cast<unsigned char>(c.unicode()) : 'x'))
            return false;
    }
    return true;
}

bool isPrompt(QStringView partial) {
    return trimmed(partial) == QLatin1String(">");
}

// A listing entry's first line: "+CMGL: " storage index "," status.
bool isListingHeader(QStringView line) {
    if (!startsWith(line, "+CMGL: ")) return false;
    const QStringList fields = splitFields(line.mid(7));
    if (fields.size() < 2) return false;
    bool numeric = false;
    fields.at(0).trimmed().toInt(&numeric);
    return numeric && !QString(fields.at(1)).remove(u'"').trimmed().isEmpty();
}

// "+CMGS: n", "+CMGW: n" or "+CMSS: n": the modem took the message.
bool isConfirmation(QStringView line) {
    const QStringView t = trimmed(line);
    if (!(startsWith(t, "+CMGS:") || startsWith(t, "+CMGW:") || startsWith(t, "+CMSS:")))
        return false;
    const QStringView n = trimmed(t.mid(6));
    if (n.isEmpty()) return false;
    for (const QChar c : n) {
        if (!c.isDigit()) return false;
    }
    return true;
}

bool endsListing(Final f) {
    return f == Final::Ok || isError(f);
}

} // namespace

Final finalResult(QStringView line) {
    const QStringView t = trimmed(line);
    if (t == QLatin1String("OK")) return Final::Ok;
    if (t == QLatin1String("ERROR")) return Final::Error;
    if (startsWith(t, "+CMS ERROR:")) return Final::CmsError;
    if (startsWith(t, "+CME ERROR:")) return Final::CmeError;
    if (t == QLatin1String("NO CARRIER")) return Final::NoCarrier;
    if (t == QLatin1String("BUSY") || t == QLatin1String("NO ANSWER") ||
        t == QLatin1String("NO DIALTONE"))
        return Final::Other;
    if (startsWith(t, "CONNECT") && (t.size() == 7 || t.at(7) == u' ')) return Final::Other;
    return Final::None;
}

QString ownPrefix(const QString& command) {
    const QString c = command.trimmed().toUpper();
    if (!c.startsWith(QLatin1String("AT")) || c.size() < 4) return QString();
    const QChar lead = c.at(2);
    if (lead != u'+' && lead != u'^' && lead != u'$' && lead != u'*') return QString();
    qsizetype end = 3;
    while (end < c.size() && (c.at(end).isLetterOrNumber() || c.at(end) == u'_'))
        ++end;
    return c.mid(2, end - 2) + u':';
}

bool isUnsolicited(QStringView line, const QString& own) {
    const QStringView t = trimmed(line);
    if (t.isEmpty()) return false;
    if (!own.isEmpty() && t.startsWith(own)) return false;
    if (t == QLatin1String("RING") || t == QLatin1String("NO CARRIER")) return true;
    if (t.startsWith(u'^')) return true; // ^RSSI:, ^BOOT:, ^MODE: ...
    static const char* const prefixes[] = {
        "+CLIP:", "+CLCC:", "+CRING:",    "+CCWA:",    "+CMTI:",  "+CDSI:", "+CBMI:", "+CMT:",
        "+CBM:",  "+CDS:",  "+CREG:",     "+CGREG:",   "+CEREG:", "+CUSD:", "+CIEV:", "+CSSU:",
        "+CSSI:", "+CTZV:", "+CTZE:",     "+CPIN:",    "+CFUN:",  "+QIND:", "+PACSP", "*PSUTTZ",
        "DST:",   "RDY",    "Call Ready", "SMS Ready", "+CMTE:"};
    for (const char* p : prefixes) {
        if (startsWith(t, p)) return true;
    }
    return false;
}

bool isStatusReport(QStringView line) {
    const QStringView t = trimmed(line);
    return startsWith(t, "+CDS:") || startsWith(t, "+CDSI:");
}

bool isPduStatusReportHeader(QStringView line) {
    const QStringView t = trimmed(line);
    if (!startsWith(t, "+CDS:")) return false;
    const QStringView n = trimmed(t.mid(5));
    if (n.isEmpty() || n.size() > 3) return false;
    for (const QChar c : n) {
        if (!c.isDigit()) return false;
    }
    return true;
}

bool isCompleteStatusReport(QStringView line) {
    static const QRegularExpression textForm(QStringLiteral(
        R"(^\+CDS: *\d{1,3},\d{1,3},(?:"[^"]*")?,(?:\d{1,3})?,"\d\d/\d\d/\d\d,\d\d:\d\d:\d\d[+-]\d\d",)"
        R"("\d\d/\d\d/\d\d,\d\d:\d\d:\d\d[+-]\d\d",\d{1,3}$)"));
    static const QRegularExpression stored(QStringLiteral(R"(^\+CDSI: *"[A-Z]{2}",\d{1,5}$)"));
    const QString t = trimmed(line).toString();
    return textForm.match(t).hasMatch() || stored.match(t).hasMatch();
}

bool isCallReport(QStringView line) {
    const QStringView t = trimmed(line);
    return t == QLatin1String("RING") || t == QLatin1String("NO CARRIER") ||
           startsWith(t, "+CRING:") || startsWith(t, "+CLIP:") || startsWith(t, "+CLCC:");
}

Kind kindOf(const QString& command, const QString& expected) {
    if (trimmed(expected) == QLatin1String(">")) return Kind::Prompt;
    const QString c = command.trimmed().toUpper();
    if (c.startsWith(QLatin1String("AT+CMGL"))) return Kind::Listing;
    if (c.startsWith(QLatin1String("AT+CMSS"))) return Kind::Confirm;
    if (command.endsWith(kCtrlZ)) return Kind::Confirm;
    return Kind::Plain;
}

// ---- AnswerReader -------------------------------------------------------------------

void AnswerReader::begin(const QString& command, Kind kind, const QString& carried) {
    *this = AnswerReader();
    kind_ = kind;
    echo_ = command;
    while (!echo_.isEmpty() &&
           (echo_.endsWith(u'\r') || echo_.endsWith(u'\n') || echo_.endsWith(kCtrlZ)))
        echo_.chop(1);
    own_ = kind == Kind::Confirm ? QString() : ownPrefix(command);
    partial_ = carried;
}

void AnswerReader::feed(const QString& data) {
    if (data.isEmpty()) return;
    received_ += data;
    partial_ += data;
    qsizetype from = 0;
    for (qsizetype end; (end = partial_.indexOf(kCrLf, from)) >= 0; from = end + 2)
        lines_ << partial_.mid(from, end - from);
    partial_.remove(0, from);
    scanLeading();
}

void AnswerReader::scanLeading() {
    for (; answerStart_ < 0 && scanned_ < lines_.size(); ++scanned_) {
        const QString& line = lines_.at(scanned_);
        const QStringView t = trimmed(line);
        if (skipBody_) {
            skipBody_ = false;
            continue;
        }
        if (t.isEmpty()) continue;
        if (!echoSeen_ && !echo_.isEmpty() && trimmed(line) == trimmed(echo_)) {
            echoSeen_ = true;
            continue;
        }
        const Final f = finalResult(t);
        if (kind_ == Kind::Listing) {
            if (isListingHeader(line) || endsListing(f)) {
                answerStart_ = static_cast<int>(scanned_);
                return;
            }
            if (isUnsolicited(t, own_)) {
                reportIndexes_ << static_cast<int>(scanned_);
                skipBody_ = carriesText(t);
            }
            continue; // anything else before the first entry is line noise
        }
        if (f == Final::NoCarrier || (f == Final::None && isUnsolicited(t, own_))) {
            reportIndexes_ << static_cast<int>(scanned_);
            skipBody_ = carriesText(t);
            continue;
        }
        answerStart_ = static_cast<int>(scanned_);
        break;
    }
    // Answers other than listings carry nobody's text: a call report or a status report
    // among their lines is a report wherever it comes (the modem may put one before or
    // after the final line, between a confirmation and its OK, or between a line of
    // noise and the answer).
    if (answerStart_ < 0 || kind_ == Kind::Listing) return;
    for (qsizetype k = qMax<qsizetype>(scanned_, answerStart_ + 1); k < lines_.size(); ++k) {
        if (isReportStart(k)) reportIndexes_ << static_cast<int>(k);
    }
    scanned_ = lines_.size();
}

bool AnswerReader::isReportStart(qsizetype k) const {
    if (kind_ == Kind::Listing || k <= answerStart_) return false;
    const QString& line = lines_.at(k);
    return (isCallReport(line) || isStatusReport(line)) && isUnsolicited(line, own_);
}

bool AnswerReader::isReportLine(qsizetype k) const {
    if (isReportStart(k)) return true;
    // The PDU of a status report in PDU mode.
    return k >= 1 && isReportStart(k - 1) && isPduStatusReportHeader(lines_.at(k - 1));
}

QStringList AnswerReader::takeReports() {
    QStringList out;
    for (; reportsTaken_ < reportIndexes_.size(); ++reportsTaken_) {
        const qsizetype k = reportIndexes_.at(reportsTaken_);
        QString report = trimmed(lines_.at(k)).toString();
        if (isPduStatusReportHeader(report)) {
            if (k + 1 >= lines_.size()) break; // its PDU is still arriving
            report += kCrLf + trimmed(lines_.at(k + 1)).toString();
        }
        out << report;
    }
    return out;
}

QList<int> AnswerReader::reportsInListing(int end) const {
    // A status report the modem puts between two entries of a listing (or before its
    // final line) comes framed as every report is: an empty line, the report, then the
    // next entry, another report or the final line's empty line. Only a complete report
    // line counts; anything else there is message text.
    QList<int> found;
    for (int k = answerStart_ + 1; k < end; ++k) {
        const QString& line = lines_.at(k);
        if (!isStatusReport(line) || !trimmed(lines_.at(k - 1)).isEmpty()) continue;
        int after = k + 1;
        if (isPduStatusReportHeader(line)) {
            if (after >= end || !isHexLine(trimmed(lines_.at(after)))) continue;
            ++after;
        } else if (!isCompleteStatusReport(line)) {
            continue;
        }
        if (after < end && !isListingHeader(lines_.at(after)) &&
            !trimmed(lines_.at(after)).isEmpty())
            continue;
        found << k;
    }
    return found;
}

Judgement AnswerReader::judge(bool quiet) const {
    Judgement j;
    const int count = static_cast<int>(lines_.size());
    int end = -1; // index of the final line

    if (answerStart_ >= 0) {
        if (kind_ == Kind::Listing) {
            // The listing ends at a final line after which only reports follow; a text
            // line after it means the "OK" was part of a message.
            int k = count - 1;
            while (k >= answerStart_) {
                const QStringView t = trimmed(lines_.at(k));
                const bool reportPdu = k >= 1 && isPduStatusReportHeader(lines_.at(k - 1)) &&
                                       isHexLine(t);
                if (!t.isEmpty() && !isUnsolicited(t, own_) && !reportPdu) break;
                --k;
            }
            if (k >= answerStart_ && partial_.isEmpty() && endsListing(finalResult(lines_.at(k))))
                end = k;
            // Once the line has gone quiet, the listing ended at its last final line even
            // when a line of noise followed it (but not when an entry followed it).
            for (int m = count - 1; quiet && end < 0 && m >= answerStart_; --m) {
                if (isListingHeader(lines_.at(m))) break;
                if (endsListing(finalResult(lines_.at(m)))) end = m;
            }
        } else if (kind_ == Kind::Plain) {
            for (int k = answerStart_; k < count; ++k) {
                if (isReportLine(k)) continue;
                if (finalResult(lines_.at(k)) != Final::None) {
                    end = k;
                    break;
                }
            }
        } else {
            // Before a prompt or a confirmation, an "OK" is what is left of an earlier
            // exchange (the answer to an ESC, say): the answer ends at an error, or at the
            // OK after the confirmation line.
            bool confirmed = false;
            for (int k = answerStart_; k < count && end < 0; ++k) {
                if (isReportLine(k)) continue;
                const Final f = finalResult(lines_.at(k));
                if (isError(f) || (f == Final::Ok && confirmed)) end = k;
                if (kind_ == Kind::Confirm && isConfirmation(lines_.at(k))) confirmed = true;
            }
        }
    }

    // The answer's text as a modem with echo off frames it: CR LF, then its lines from
    // the first one on, each ended by CR LF (no echo, no reports before it).
    const int last = end >= 0 ? end : count - 1;
    if (answerStart_ >= 0) {
        j.text = kCrLf;
        for (int k = answerStart_; k <= last; ++k) {
            if (!isReportLine(k)) j.text += lines_.at(k) + kCrLf;
        }
    }
    if (end >= 0) {
        j.complete = true;
        j.finalLine = trimmed(lines_.at(end)).toString();
        j.final = finalResult(j.finalLine);
        // Status reports inside a listing are taken out of it, with the empty line that
        // framed each one (and a PDU report's PDU line).
        QSet<int> skipped;
        if (kind_ == Kind::Listing) {
            for (const int k : reportsInListing(end)) {
                QString report = trimmed(lines_.at(k)).toString();
                skipped << k - 1 << k;
                if (isPduStatusReportHeader(report)) {
                    report += kCrLf + trimmed(lines_.at(k + 1)).toString();
                    skipped << k + 1;
                }
                j.inlineReports << report;
            }
            if (!skipped.isEmpty()) {
                j.text = kCrLf;
                for (int k = answerStart_; k <= end; ++k) {
                    if (!skipped.contains(k)) j.text += lines_.at(k) + kCrLf;
                }
            }
        }
        for (int k = answerStart_; k < end; ++k) {
            if (!isReportLine(k) && !skipped.contains(k)) j.lines << lines_.at(k);
        }
        // (Other answers have handed their reports over as they came.)
        if (kind_ == Kind::Listing) {
            for (int k = end + 1; k < count; ++k) {
                const QString& line = lines_.at(k);
                if (isCallReport(line)) j.trailing << trimmed(line).toString();
                if (!isStatusReport(line)) continue;
                QString report = trimmed(line).toString();
                if (isPduStatusReportHeader(report)) {
                    if (k + 1 >= count) continue; // its PDU never came
                    report += kCrLf + trimmed(lines_.at(++k)).toString();
                }
                j.trailing << report;
            }
        }
        return j;
    }
    if (answerStart_ >= 0) {
        for (int k = answerStart_; k < count; ++k) {
            if (!isReportLine(k)) j.lines << lines_.at(k);
        }
    }
    // The prompt counts when it is the last thing the modem said (reports after it
    // aside): it is in text entry now, and what is written next is processed after every
    // earlier command.
    if (kind_ == Kind::Prompt && partial_.isEmpty()) {
        int k = count - 1;
        while (k >= 0 && (trimmed(lines_.at(k)).isEmpty() || isUnsolicited(lines_.at(k), own_)))
            --k;
        if (k >= 0 && isPrompt(lines_.at(k)) && (answerStart_ < 0 || k >= answerStart_)) {
            j.complete = true;
            j.final = Final::Prompt;
            j.finalLine = QStringLiteral(">");
            j.text = kCrLf + QStringLiteral("> ");
            return j;
        }
    }
    if (kind_ == Kind::Prompt && isPrompt(partial_)) {
        j.complete = true;
        j.final = Final::Prompt;
        j.finalLine = QStringLiteral(">");
        if (answerStart_ < 0) j.text = kCrLf;
        j.text += partial_;
        return j;
    }
    j.text += partial_;
    // A hang-up report and nothing else: the command's answer is NO CARRIER.
    if (answerStart_ < 0 && kind_ != Kind::Listing && !reportIndexes_.isEmpty() &&
        partial_.isEmpty() && finalResult(lines_.at(reportIndexes_.last())) == Final::NoCarrier) {
        j.complete = true;
        j.final = Final::NoCarrier;
        j.finalLine = QStringLiteral("NO CARRIER");
        j.text = kCrLf + j.finalLine + kCrLf;
    }
    return j;
}

// ---- ModemLine ----------------------------------------------------------------------

void ModemLine::feed(const QString& data) {
    if (data.isEmpty()) return;
    if (answering_) {
        reader_.feed(data);
        for (const QString& r : reader_.takeReports())
            keepReport(r);
        return;
    }
    partial_ += data;
    qsizetype from = 0;
    for (qsizetype end; (end = partial_.indexOf(kCrLf, from)) >= 0; from = end + 2)
        idleLine(partial_.mid(from, end - from));
    partial_.remove(0, from);
    // Nothing waits for a prompt now: one that comes late is dropped (but in the rest of
    // a listing, "> " may begin a line of a message text).
    if (!staleListing_ && isPrompt(partial_)) partial_.clear();
}

void ModemLine::keepReport(const QString& report) {
    if (isCallReport(report))
        reports_ << report;
    else if (isStatusReport(report))
        statusReports_ << report;
}

void ModemLine::idleLine(const QString& line) {
    const QStringView t = trimmed(line);
    if (!pendingStatus_.isEmpty()) {
        // The PDU line of a status report in PDU mode.
        statusReports_ << pendingStatus_ + kCrLf + t.toString();
        pendingStatus_.clear();
        skipBody_ = false;
        return;
    }
    if (skipBody_) {
        skipBody_ = false;
        return;
    }
    if (t.isEmpty()) return;
    const Final f = finalResult(t);
    if (staleListing_) {
        // The rest of a listing that was given up: message texts until its final line.
        if (endsListing(f)) {
            staleListing_ = false;
            unsettled_ = false;
        }
        return;
    }
    if (unsettled_ && f != Final::None && f != Final::NoCarrier) {
        unsettled_ = false; // the abandoned answer has ended
        return;
    }
    if (isUnsolicited(t)) {
        if (isPduStatusReportHeader(t)) {
            pendingStatus_ = t.toString();
            return;
        }
        skipBody_ = carriesText(t);
        keepReport(t.toString());
    }
}

void ModemLine::beginAnswer(const QString& command, Kind kind) {
    QString carried;
    if (!isPrompt(partial_)) carried = partial_;
    partial_.clear();
    skipBody_ = false;
    // A status report whose PDU line had not come: the line is the answer's now, and the
    // reader takes the report with its PDU as a leading report.
    if (!pendingStatus_.isEmpty()) carried = pendingStatus_ + kCrLf + carried;
    pendingStatus_.clear();
    reader_.begin(command, kind, carried);
    answering_ = true;
}

void ModemLine::endAnswer(bool quiet) {
    if (!answering_) return;
    answering_ = false;
    const Judgement j = reader_.judge(quiet);
    if (j.complete) {
        unsettled_ = false;
        staleListing_ = false;
        for (const QString& r : j.inlineReports)
            statusReports_ << r;
        for (const QString& r : j.trailing)
            keepReport(r);
        // What came after the final line's end belongs to what comes next.
        partial_ = j.final == Final::Prompt ? QString() : reader_.partialLine();
        return;
    }
    unsettled_ = true;
    staleKind_ = reader_.kind();
    staleListing_ = reader_.kind() == Kind::Listing;
    // The line being received goes on being received: the end of a text line must not
    // read as a line of its own.
    partial_ = reader_.partialLine();
}

void ModemLine::settle() {
    unsettled_ = false;
    staleListing_ = false;
}

QStringList ModemLine::takeReports() {
    QStringList out;
    out.swap(reports_);
    return out;
}

QStringList ModemLine::takeStatusReports() {
    QStringList out;
    out.swap(statusReports_);
    return out;
}

// ---- answers the program reads ------------------------------------------------------

QStringList splitFields(QStringView line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (const QChar c : line) {
        if (c == u'"') quoted = !quoted;
        if (c == u',' && !quoted) {
            fields << field;
            field.clear();
            continue;
        }
        field += c;
    }
    fields << field;
    return fields;
}

QList<ListedMessage> parseListing(const QStringList& lines) {
    QList<ListedMessage> entries;
    QStringList body;
    auto finish = [&](bool last) {
        if (entries.isEmpty()) return;
        // The listing's final line is framed by one empty line of its own.
        if (last && !body.isEmpty() && body.last().isEmpty()) body.removeLast();
        entries.last().text = body.join(kCrLf);
        body.clear();
    };
    for (const QString& line : lines) {
        if (isListingHeader(line)) {
            finish(false);
            const QStringList fields = splitFields(QStringView(line).mid(7));
            ListedMessage m;
            m.index = fields.value(0).trimmed();
            m.status = QString(fields.value(1)).remove(u'"').trimmed();
            m.number = QString(fields.value(2)).remove(u'"').trimmed();
            m.time = QString(fields.value(4)).remove(u'"').trimmed();
            m.fields = fields;
            // A status report: its third field is the report's first octet, a bare number
            // where a message has its quoted number.
            const QString third = fields.value(2).trimmed();
            bool numeric = false;
            third.toInt(&numeric);
            if (numeric && fields.size() >= 9 && !third.startsWith(u'"')) {
                m.report = fields.mid(2).join(u',');
                m.number.clear();
                m.time.clear();
            }
            entries << m;
            continue;
        }
        if (!entries.isEmpty()) body << line;
    }
    finish(true);
    return entries;
}

QString callStateField(const QStringList& answerLines) {
    for (const QString& line : answerLines) {
        const QStringView t = trimmed(line);
        if (!startsWith(t, "+CLCC:")) continue;
        const QStringList fields = splitFields(t.mid(6));
        return fields.size() >= 3 ? fields.at(2) : QString(QLatin1String(""));
    }
    return QString();
}

namespace {
// The text between the quotes of a quoted field; empty when the field is not one quoted
// text, or holds a quote or a control character (no number does).
QString quotedNumber(const QString& field) {
    const QString f = field.trimmed();
    if (f.size() < 2 || !f.startsWith(u'"') || !f.endsWith(u'"')) return QString();
    const QString number = f.mid(1, f.size() - 2);
    for (const QChar c : number) {
        if (c == u'"' || c.unicode() < 0x20 || c.unicode() == 0x7F) return QString();
    }
    return number;
}
} // namespace

QString callerNumber(QStringView report) {
    const QStringView t = trimmed(report);
    if (startsWith(t, "+CLIP:")) return quotedNumber(splitFields(t.mid(6)).value(0));
    if (startsWith(t, "+CLCC:")) return quotedNumber(splitFields(t.mid(6)).value(5));
    return QString();
}

ModemLine& lineOf(const ModemState& modem) {
    if (!modem.Line) modem.Line = std::make_shared<ModemLine>();
    return *modem.Line;
}

} // namespace at
