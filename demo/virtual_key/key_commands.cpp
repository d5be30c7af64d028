#include "key_commands.h"

#include "virtual_key.h"

#include <QRegularExpression>

namespace {

bool toInt(const QString &text, int min, int max, int *out)
{
    bool ok = false;
    const int v = text.toInt(&ok, 0);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

bool toSeconds(const QString &text, int *ms)
{
    bool ok = false;
    const double s = text.toDouble(&ok);
    if (!ok || s < 0 || s > 3600)
        return false;
    *ms = static_cast<int>(s * 1000);
    return true;
}

} // namespace

KeyCommands::KeyCommands(VirtualKey &key, KeyPlug *plug, QObject *parent)
    : QObject(parent)
    , m_key(key)
    , m_plug(plug)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_expectName.isEmpty())
            finishWait(false, QStringLiteral("timed out waiting for ") + m_expectName);
        else
            finishWait(true, QString());
    });
    connect(&key, &VirtualKey::keyEvent, this, &KeyCommands::noteEvent);
}

QString KeyCommands::help()
{
    return QStringLiteral(
            "plug | unplug                 connect or remove the key\n"
            "battery N | mode N            battery level 0-255; mode bits (1 manual)\n"
            "manual on|off                 manual mode\n"
            "counter N                     transfer counter\n"
            "label I COLOUR TEXT...        detail line I (0-2)\n"
            "identity                      send the identity again\n"
            "scan                          scan the next tag without being asked\n"
            "relay open|close              ask the program to open or close the relay\n"
            "relay send TEXT...            payload for the relay server\n"
            "relay burst N                 N payloads in a row\n"
            "query                         ask for the time and a value\n"
            "expect EVENT [SECONDS] [TEXT] wait for an event (default 10 s)\n"
            "sleep SECONDS | echo TEXT | status | help | quit");
}

void KeyCommands::addLine(const QString &line)
{
    m_queue.append(line);
    if (!m_running && !m_waiting)
        runNext();
}

void KeyCommands::addLines(const QStringList &lines)
{
    for (const QString &l : lines)
        m_queue.append(l);
    if (!m_running && !m_waiting)
        runNext();
}

void KeyCommands::noteEvent(const QString &name, const QString &detail)
{
    m_events.append({name, detail});
    m_matched.append(false);
    if (m_waiting && !m_expectName.isEmpty() && tryMatchExpectation())
        finishWait(true, QString());
}

bool KeyCommands::tryMatchExpectation()
{
    for (int i = 0; i < m_events.size(); ++i) {
        if (m_matched[i] || m_events[i].first != m_expectName)
            continue;
        if (!m_expectText.isEmpty() && !m_events[i].second.contains(m_expectText))
            continue;
        // Everything up to the match is consumed, so expectations keep their order.
        for (int j = 0; j <= i; ++j) {
            if (m_events[j].first == m_expectName)
                m_matched[j] = true;
        }
        return true;
    }
    return false;
}

void KeyCommands::finishWait(bool ok, const QString &message)
{
    m_timer.stop();
    m_waiting = false;
    m_expectName.clear();
    m_expectText.clear();
    if (ok)
        emit output(QStringLiteral("ok: ") + m_currentLine);
    else
        fail(message);
    runNext();
}

void KeyCommands::fail(const QString &message)
{
    ++m_failures;
    emit output(QStringLiteral("fail: %1: %2").arg(m_currentLine, message));
    if (m_stopOnFailure) {
        m_queue.clear();
        m_stopped = true;
    }
}

void KeyCommands::runNext()
{
    if (m_running)
        return;
    m_running = true;
    while (!m_waiting && !m_queue.isEmpty() && !m_stopped) {
        const QString line = m_queue.takeFirst().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        m_currentLine = line;
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
        QString error;
        if (!execute(words, &error))
            fail(error);
        else if (!m_waiting)
            emit output(QStringLiteral("ok: ") + line);
    }
    m_running = false;
    if (!m_waiting && (m_queue.isEmpty() || m_stopped))
        emit drained();
}

bool KeyCommands::execute(const QStringList &w, QString *error)
{
    const QString cmd = w.value(0).toLower();
    const int n = w.size();
    int v = 0;
    auto usage = [error](const char *text) {
        *error = QStringLiteral("usage: ") + QLatin1String(text);
        return false;
    };

    if (cmd == "plug") {
        if (!m_plug || !m_plug->plug()) {
            *error = QStringLiteral("could not plug the key in");
            return false;
        }
        return true;
    }
    if (cmd == "unplug") {
        if (!m_plug) {
            *error = QStringLiteral("no USB side");
            return false;
        }
        m_plug->unplug();
        return true;
    }
    if (cmd == "battery") {
        if (n != 2 || !toInt(w[1], 0, 255, &v))
            return usage("battery 0-255");
        m_key.setBattery(v);
        return true;
    }
    if (cmd == "mode") {
        if (n != 2 || !toInt(w[1], 0, 255, &v))
            return usage("mode 0-255");
        m_key.setMode(v);
        return true;
    }
    if (cmd == "manual") {
        if (n != 2 || (w[1] != "on" && w[1] != "off"))
            return usage("manual on|off");
        m_key.setMode(w[1] == "on" ? (m_key.mode() | 1) : (m_key.mode() & ~1));
        return true;
    }
    if (cmd == "counter") {
        bool ok = false;
        const uint count = w.value(1).toUInt(&ok);
        if (n != 2 || !ok)
            return usage("counter N");
        m_key.setTransferCount(count);
        return true;
    }
    if (cmd == "label") {
        if (n < 3 || !toInt(w[1], 0, 2, &v))
            return usage("label 0-2 COLOUR TEXT...");
        m_key.setLabel(v, {QStringList(w.mid(3)).join(' '), w[2]});
        return true;
    }
    if (cmd == "identity") {
        m_key.sendIdentity();
        return true;
    }
    if (cmd == "scan") {
        m_key.scan();
        return true;
    }
    if (cmd == "relay") {
        const QString sub = w.value(1);
        if (sub == "open" && n == 2)
            m_key.requestRelayOpen();
        else if (sub == "close" && n == 2)
            m_key.requestRelayClose();
        else if (sub == "send" && n >= 3)
            m_key.sendRelayPayload(QStringList(w.mid(2)).join(' ').toUtf8());
        else if (sub == "burst" && n == 3 && toInt(w[2], 1, 1000, &v)) {
            for (int i = 1; i <= v; ++i)
                m_key.sendRelayPayload(QByteArray("burst-") + QByteArray::number(i));
        } else
            return usage("relay open|close|send TEXT|burst N");
        return true;
    }
    if (cmd == "query") {
        m_key.queryTime();
        return true;
    }
    if (cmd == "expect") {
        int ms = 10000;
        if (n < 2 || (n >= 3 && !toSeconds(w[2], &ms)))
            return usage("expect EVENT [SECONDS] [TEXT]");
        m_expectName = w[1];
        m_expectText = QStringList(w.mid(3)).join(' ');
        m_waiting = true;
        if (tryMatchExpectation()) {
            m_waiting = false;
            m_expectName.clear();
            m_expectText.clear();
            return true;
        }
        m_timer.start(ms);
        return true;
    }
    if (cmd == "sleep") {
        int ms = 0;
        if (n != 2 || !toSeconds(w[1], &ms))
            return usage("sleep SECONDS");
        m_waiting = true;
        m_timer.start(ms);
        return true;
    }
    if (cmd == "echo") {
        emit output(QStringList(w.mid(1)).join(' '));
        return true;
    }
    if (cmd == "status") {
        emit output(
                QStringLiteral("plugged %1, battery %2, mode %3, bar %4, transfers %5, relay %6")
                        .arg(m_plug && m_plug->plugged() ? "yes" : "no")
                        .arg(m_key.battery())
                        .arg(m_key.mode())
                        .arg(m_key.keyBar())
                        .arg(m_key.transferCount())
                        .arg(m_key.relayOpen() ? "open" : "closed"));
        return true;
    }
    if (cmd == "help") {
        emit output(help());
        return true;
    }
    if (cmd == "quit" || cmd == "exit") {
        m_queue.clear();
        m_stopped = true;
        emit quitRequested();
        return true;
    }
    *error = QStringLiteral("unknown command (try help)");
    return false;
}
