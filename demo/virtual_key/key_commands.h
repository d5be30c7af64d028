#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTimer>

class VirtualKey;

// Plugging the key in and out; the USB side implements it.
class KeyPlug
{
public:
    virtual ~KeyPlug() = default;
    virtual bool plug() = 0;
    virtual void unplug() = 0;
    virtual bool plugged() const = 0;
};

// Runs the key's command language, one line at a time, from a scenario file
// or a terminal. "expect EVENT [SECONDS] [TEXT]" waits for the next event of
// that name not yet matched (whose detail contains TEXT), so an event that came
// before the line was read still counts.
class KeyCommands : public QObject
{
    Q_OBJECT

public:
    KeyCommands(VirtualKey &key, KeyPlug *plug, QObject *parent = nullptr);

    // Stop at the first failed line (scenarios) or go on (interactive use).
    void setStopOnFailure(bool stop) { m_stopOnFailure = stop; }
    void addLine(const QString &line);
    void addLines(const QStringList &lines);
    // Events that do not come from the key itself, such as the program exiting.
    void noteEvent(const QString &name, const QString &detail);

    bool busy() const { return m_waiting || !m_queue.isEmpty(); }
    int failures() const { return m_failures; }
    bool stopped() const { return m_stopped; }

    static QString help();

signals:
    void output(const QString &line);
    // Queue ran empty, or stopped after a failure or "quit".
    void drained();
    void quitRequested();

private:
    void runNext();
    bool execute(const QStringList &words, QString *error);
    bool tryMatchExpectation();
    void finishWait(bool ok, const QString &message);
    void fail(const QString &message);

    VirtualKey &m_key;
    KeyPlug *m_plug;
    QStringList m_queue;
    QList<QPair<QString, QString>> m_events;
    QList<bool> m_matched;
    QTimer m_timer;
    bool m_waiting = false;
    bool m_running = false;
    bool m_stopOnFailure = false;
    bool m_stopped = false;
    int m_failures = 0;
    QString m_expectName;
    QString m_expectText;
    QString m_currentLine;
};
