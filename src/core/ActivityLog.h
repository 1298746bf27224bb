#pragma once

#include <QObject>
#include <QString>

class AppContext;

// The activity log: the running trace of what the program does, newest line first.
// It is never written to disk; the home page's txtActivityLog shows it.
class ActivityLog : public QObject {
    Q_OBJECT
public:
    static constexpr int TrimThreshold = 12000; // longer than this is trimmed...
    static constexpr int KeptCharacters = 2000; // ...to the notice and this many

    explicit ActivityLog(AppContext& ctx) : ctx_(ctx) {}

    const QString& text() const { return text_; }
    void clear();

    // Prepends "[" + now + "] : " + message + CR LF when logging is enabled.
    void write(const QString& message);

signals:
    void textChanged(const QString& text);

private:
    AppContext& ctx_;
    QString text_;
};

// Writes one line to the context's activity log.
void WriteActivityLog(AppContext& ctx, const QString& message);
