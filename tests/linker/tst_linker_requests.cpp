// Requests from the key: query and time replies, relay link open and close.
#include "expect_log.h"
#include "key_rig.h"
#include "netns_pair.h"
#include "server_link.h"

#include <QTest>
#include <QUdpSocket>

class TestLinkerRequests : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { testlog::serialize(); }
    void timeAndQueryReplyByteExact()
    {
        KeyRig rig;
        rig.linker->setClock([] { return int64_t(1577836800); });
        QVERIFY(rig.attach());
        // TAG_TIME then TAG_QUERY_END; request values are not read.
        rig.fromKey(hex("01 02 12 05 00 00 11 04 00 01 07"));
        QCOMPARE(rig.takeSent(),
                 QList<QByteArray> {
                         hex("00 02 12 02 00 04 5E 0B E1 00 11 02 00 04 FF FF FF FF 00")});
    }

    void timeIsCutToLow32Bits()
    {
        KeyRig rig;
        rig.linker->setClock([] { return int64_t(0x1'2345'6789); });
        QVERIFY(rig.attach());
        rig.fromKey(hex("01 02 12 00 00 00 11 00 00 00"));
        QCOMPARE(rig.takeSent(),
                 QList<QByteArray> {
                         hex("00 02 12 02 00 04 23 45 67 89 11 02 00 04 FF FF FF FF 00")});
    }

    void noReplyWithoutQueryEnd()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.fromKey(hex("01 02 12 00 00 00 10 00 00 00"));
        QVERIFY(rig.takeSent().isEmpty());
        // Tag 18 in a MSG_SET is not a request.
        rig.fromKey(hex("00 02 12 00 00 00 11 00 00 00"));
        QVERIFY(rig.takeSent().isEmpty());
    }

    void tagsAfterQueryEndStartFreshReply()
    {
        KeyRig rig;
        rig.linker->setClock([] { return int64_t(0x10); });
        QVERIFY(rig.attach());
        // QUERY, QUERY_END, TIME, QUERY_END, QUERY (never sent).
        rig.fromKey(hex("01 05 10 00 00 00 11 00 00 00 12 00 00 00 11 00 00 00 10 00 00 00"));
        QCOMPARE(rig.takeSent(),
                 QList<QByteArray>(
                         {hex("00 02 10 02 00 04 FF FF FF FF 11 02 00 04 FF FF FF FF 00"),
                          hex("00 02 12 02 00 04 00 00 00 10 11 02 00 04 FF FF FF FF 00")}));
    }

    void connectBeforeIdentityIsNotAcknowledged()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        SignalLog log(rig.linker.get());
        rig.fromKey(hex("01 01 1A 00 00 00"));
        rig.fromKey(hex("01 01 1B 00 00 00"));
        QVERIFY(rig.takeSent().isEmpty());
        QVERIFY(!rig.linker->relay()->isOpen());
        QCOMPARE(log.take(), QStringList({"TransferBusy(1)", "TransferBusy(1)"}));
    }

    void connectAckComesBeforeQueryReply()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify("9.6.2", "127.0.0.1", freeUdpPort());
        rig.takeSent();
        SignalLog log(rig.linker.get());
        expectLog(QtDebugMsg, "Key request UDP connection");
        rig.fromKey(hex("01 03 10 00 00 00 1A 00 00 00 11 00 00 00"));
        QCOMPARE(rig.takeSent(),
                 QList<QByteArray>(
                         {hex("00 01 1A 05 00 00 00"),
                          hex("00 02 10 02 00 04 FF FF FF FF 11 02 00 04 FF FF FF FF 00")}));
        QVERIFY(rig.linker->relay()->isOpen());
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "setBtnEnabled(0)", "TransferBusy(0)",
                              "TransferBusy(0)"}));

        // Asked again while open: acknowledged again, buttons disabled again.
        rig.fromKey(hex("01 01 1A 00 00 00"));
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("00 01 1A 05 00 00 00")});
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "setBtnEnabled(0)", "TransferBusy(0)"}));
    }

    void disconnectClosesAndShowsReady()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        const quint16 port = freeUdpPort();
        rig.identify("9.6.2", "127.0.0.1", port);
        rig.fromKey(hex("01 01 1A 00 00 00"));
        QVERIFY(rig.linker->relay()->isOpen());
        rig.takeSent();
        SignalLog log(rig.linker.get());
        rig.fromKey(hex("01 01 1B 00 00 00"));
        QVERIFY(!rig.linker->relay()->isOpen());
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("00 01 1B 05 00 00 00")});
        QCOMPARE(log.take(),
                 QStringList({"TransferBusy(1)", "updateStatus(READY)", "updateStatusColor(green)",
                              "setBtnEnabled(1)", "updatePbar(-1)", "TransferBusy(0)"}));
        // Again, with nothing open: still acknowledged.
        rig.fromKey(hex("01 01 1B 00 00 00"));
        QCOMPARE(rig.takeSent(), QList<QByteArray> {hex("00 01 1B 05 00 00 00")});
    }

    void serverPortTextIsReadAsDecimal()
    {
        KeyRig rig;
        QVERIFY(rig.attach());
        const quint16 port = freeUdpPort();
        rig.identify("9.6.2", "127.0.0.1", port);
        rig.fromKey(hex("01 01 1A 00 00 00"));
        QVERIFY(rig.linker->relay()->isOpen());
        QCOMPARE(rig.linker->relay()->port(), int(port));
        QCOMPARE(rig.linker->relay()->peer(), QHostAddress(QStringLiteral("127.0.0.1")));
    }

    void unopenableLinkIsNotAcknowledged()
    {
        QUdpSocket blocker;
        QVERIFY(blocker.bind(QHostAddress(QHostAddress::AnyIPv4), 0));
        KeyRig rig;
        QVERIFY(rig.attach());
        rig.identify("9.6.2", "127.0.0.1", blocker.localPort());
        rig.takeSent();
        SignalLog log(rig.linker.get());
        rig.fromKey(hex("01 01 1A 00 00 00"));
        QVERIFY(rig.takeSent().isEmpty());
        QCOMPARE(log.take(), QStringList({"TransferBusy(1)"}));
    }

    void unresolvableServerIsNotAcknowledged()
    {
        KeyRig badHost;
        QVERIFY(badHost.attach());
        badHost.identify("9.6.2", "no..such..host", freeUdpPort());
        badHost.takeSent();
        badHost.fromKey(hex("01 01 1A 00 00 00"));
        QVERIFY(badHost.takeSent().isEmpty());
        QVERIFY(!badHost.linker->relay()->isOpen());
    }
};

QTEST_GUILESS_MAIN(TestLinkerRequests)
#include "tst_linker_requests.moc"
