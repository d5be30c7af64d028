#include "key_rig.h"

#include "frame_codec.h"
#include "kmsg.h"

#include <QTest>

KeyRig::KeyRig(bool waitForAttach)
    : script(std::make_shared<FakeUsbDevice::Script>())
    , link(std::make_unique<usbLink>(std::make_unique<FakeUsbDevice>(script)))
    , linker(std::make_unique<ObservedLinker>(link.get()))
{
    linker->setPrompt(&prompt);
    // QtTest's ignore list is not thread-safe: the connect request follows the
    // link thread's attach line.
    if (waitForAttach && !QTest::qWaitFor([this] { return !script->writes().isEmpty(); }, 5000))
        qWarning("the fake key did not attach");
}

KeyRig::~KeyRig()
{
    linker.reset(); // last disconnect goes out while the link still exists
    link.reset();
}

bool KeyRig::attach()
{
    if (!QTest::qWaitFor([this] { return !script->writes().isEmpty(); }, 5000))
        return false;
    takeSent();
    return true;
}

QList<QByteArray> KeyRig::takeWrites()
{
    link->writer().flush(3000); // what the linker queued so far reaches the key first
    const QList<QByteArray> all = script->writes();
    const QList<QByteArray> fresh = all.mid(consumed);
    consumed = all.size();
    return fresh;
}

QList<QByteArray> KeyRig::takeSent()
{
    QByteArray stream;
    for (const QByteArray &w : takeWrites())
        stream += w;
    return framesIn(stream);
}

bool KeyRig::waitForSent(int count, int timeoutMs)
{
    return QTest::qWaitFor(
            [&] {
                QByteArray stream;
                for (const QByteArray &w : script->writes().mid(consumed))
                    stream += w;
                return framesIn(stream).size() >= count;
            },
            timeoutMs);
}

void KeyRig::identify(const char *sw, const char *srv, uint16_t port)
{
    KMsg msg(MSG_SET);
    msg.add<KTagUInt32>(TAG_SERIAL, 0x1A2Bu);
    msg.add<KTagString>(TAG_BOX, "BOX-7");
    msg.add<KTagString>(TAG_SW, sw);
    msg.add<KTagString>(TAG_HW, "2.1");
    msg.add<KTagString>(TAG_SERVER, srv);
    msg.add<KTagUInt16>(TAG_PORT, port);
    uint8_t buf[kMsgMaxSize];
    const int n = msg.serialize(buf, sizeof buf);
    fromKey(QByteArray(reinterpret_cast<const char *>(buf), n));
}

QList<QByteArray> framesIn(const QByteArray &stream)
{
    QList<QByteArray> frames;
    int pos = stream.indexOf('\x7e');
    while (pos >= 0) {
        const int end = stream.indexOf('\x7e', pos + 1);
        if (end < 0)
            break;
        const QByteArray raw = stream.mid(pos, end - pos + 1);
        QByteArray content(raw.size(), '\0');
        const int m = frameDecode(reinterpret_cast<const uint8_t *>(raw.constData()), raw.size(),
                                  reinterpret_cast<uint8_t *>(content.data()));
        if (frameCheck(reinterpret_cast<const uint8_t *>(content.constData()), m))
            frames << content.left(m - 2);
        pos = stream.indexOf('\x7e', end + 1);
    }
    return frames;
}

QByteArray frameOf(const QByteArray &payload)
{
    QByteArray out(frameEncodeCapacity(payload.size()), '\0');
    int n = 0;
    frameEncode(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size(),
                reinterpret_cast<uint8_t *>(out.data()), n);
    out.resize(n);
    return out;
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

SignalLog::SignalLog(cLinker *l)
{
    auto add = [this](const QString &e) { entries << e; };
    QObject::connect(l, &cLinker::updateLabel, &context, [add](uint t, const QString &s) {
        add(QStringLiteral("updateLabel(%1,%2)").arg(t).arg(s));
    });
    QObject::connect(l, &cLinker::updateLabelColor, &context, [add](uint t, const QString &s) {
        add(QStringLiteral("updateLabelColor(%1,%2)").arg(t).arg(s));
    });
    QObject::connect(l, &cLinker::updateStatus, &context,
                     [add](const QString &s) { add(QStringLiteral("updateStatus(%1)").arg(s)); });
    QObject::connect(l, &cLinker::updateStatusColor, &context, [add](const QString &s) {
        add(QStringLiteral("updateStatusColor(%1)").arg(s));
    });
    QObject::connect(l, &cLinker::updatePbar, &context,
                     [add](int v) { add(QStringLiteral("updatePbar(%1)").arg(v)); });
    QObject::connect(l, &cLinker::updatePbarColor, &context,
                     [add](int v) { add(QStringLiteral("updatePbarColor(%1)").arg(v)); });
    QObject::connect(l, &cLinker::setBtnEnabled, &context,
                     [add](bool v) { add(QStringLiteral("setBtnEnabled(%1)").arg(v)); });
    QObject::connect(l, &cLinker::nvmReady, &context,
                     [add](const QString &b, const QString &s, const QString &sw, const QString &hw,
                           const QString &srv) {
                         add(QStringLiteral("nvmReady(%1,%2,%3,%4,%5)").arg(b, s, sw, hw, srv));
                     });
    QObject::connect(l, &cLinker::usbConnected, &context,
                     [add](bool v) { add(QStringLiteral("usbConnected(%1)").arg(v)); });
    QObject::connect(l, &cLinker::keyDisconnected, &context,
                     [add] { add(QStringLiteral("keyDisconnected()")); });
    QObject::connect(l, &cLinker::sendToServer, &context, [add](const uint8_t *b, int n) {
        add(QStringLiteral("sendToServer(%1)")
                    .arg(QString::fromLatin1(
                            QByteArray(reinterpret_cast<const char *>(b), n).toHex(' '))));
    });
    QObject::connect(l, &cLinker::progressBar, &context,
                     [add](uint8_t v) { add(QStringLiteral("progressBar(%1)").arg(v)); });
    QObject::connect(l, &cLinker::setBattery, &context,
                     [add](int v) { add(QStringLiteral("setBattery(%1)").arg(v)); });
    QObject::connect(l, &cLinker::setManual, &context,
                     [add](bool v) { add(QStringLiteral("setManual(%1)").arg(v)); });
    QObject::connect(l, &cLinker::setTransCount, &context,
                     [add](int v) { add(QStringLiteral("setTransCount(%1)").arg(v)); });
    QObject::connect(l, &cLinker::setLayout, &context,
                     [add](int v) { add(QStringLiteral("setLayout(%1)").arg(v)); });
    QObject::connect(l, &cLinker::TransferBusy, &context,
                     [add](int v) { add(QStringLiteral("TransferBusy(%1)").arg(v)); });
}

QStringList SignalLog::take()
{
    QStringList out = entries;
    entries.clear();
    return out;
}
