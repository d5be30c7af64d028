#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

class KeyLink;

struct KeyIdentity
{
    std::uint32_t serial = 0x00B0C4A1;
    QString box = QStringLiteral("BOX-DEMO-01");
    QString sw = QStringLiteral("1.6.3"); // 1.6.3 and later: the program sends in pieces
    QString hw = QStringLiteral("HW-2.1");
    QString relayHost = QStringLiteral("127.0.0.1");
    std::uint16_t relayPort = 5077;
    QString serviceHost = QStringLiteral("127.0.0.1");
    std::uint16_t servicePort = 8080;
};

struct KeyLabel
{
    QString text;
    QString colour;
};

// Behaviour of a key as the program relies on it: identity on the connect
// request, scans, lock and unlock progress, data transfer, the relay and the
// time and value queries. Emits keyEvent for everything the program asked or
// answered, so scenarios can wait for it.
class VirtualKey : public QObject
{
    Q_OBJECT

public:
    explicit VirtualKey(KeyLink *link, QObject *parent = nullptr);

    KeyIdentity &identity() { return m_identity; }
    void setRfids(const QList<QByteArray> &rfids);
    const QList<QByteArray> &rfids() const { return m_rfids; }
    void setLabel(int index, const KeyLabel &label);
    // Milliseconds between two key bar steps.
    void setStepInterval(int ms) { m_bar.setInterval(ms); }

    int battery() const { return m_battery; }
    int mode() const { return m_mode; }
    std::uint32_t transferCount() const { return m_transferCount; }
    int keyBar() const { return m_keyBar; }
    bool relayOpen() const { return m_relayOpen; }
    const QList<QByteArray> &relayReceived() const { return m_relayReceived; }

    // Sent at once when they change, as a key does.
    void setBattery(int level);
    void setMode(int bits);
    void setTransferCount(std::uint32_t count);

    void sendIdentity();
    // Scans the next tag of the list (wrapping round) and reports its bytes.
    void scan();
    void requestRelayOpen();
    void requestRelayClose();
    void sendRelayPayload(const QByteArray &payload);
    // Asks for the time and a value; the program answers in one message.
    void queryTime();

public slots:
    // One unframed message from the program (a trailing filler byte is fine).
    void hostMessage(const QByteArray &payload);

signals:
    void keyEvent(const QString &name, const QString &detail);

private:
    void handleRequest(class KMsg &msg);
    void handleSet(class KMsg &msg);
    void startBar(int from, int to, int step, bool transfer);
    void barStep();
    void send(const class KMsg &msg);

    KeyLink *m_link;
    KeyIdentity m_identity;
    QList<QByteArray> m_rfids;
    int m_nextRfid = 0;
    KeyLabel m_labels[3];
    int m_battery = 87;
    int m_mode = 0;
    std::uint32_t m_transferCount = 0;
    int m_keyBar = 128;
    bool m_relayOpen = false;
    QList<QByteArray> m_relayReceived;

    QTimer m_bar;
    int m_barValue = 0;
    int m_barEnd = 0;
    int m_barStep = 10;
    bool m_barTransfer = false;
};
