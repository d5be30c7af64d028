#include "workflow_harness.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QTest>

#include "frame_codec.h"
#include "json.h"
#include "kmsg.h"

namespace {

QByteArray serialized(const KMsg &msg)
{
    uint8_t buf[kMsgMaxSize];
    const int n = msg.serialize(buf, sizeof buf);
    return QByteArray(reinterpret_cast<const char *>(buf), n);
}

} // namespace

QByteArray tagBytes(const QString &rfid)
{
    quint64 number = static_cast<quint64>(rfid.toLongLong());
    QByteArray bytes;
    do {
        bytes.prepend(static_cast<char>(number & 0xff));
        number >>= 8;
    } while (number != 0);
    return bytes;
}

namespace {

WorkflowHarness::Key fakeKey(const std::shared_ptr<FakeUsbDevice::Script> &script)
{
    WorkflowHarness::Key key;
    key.device = std::make_unique<FakeUsbDevice>(script);
    key.send = [script](const QByteArray &frame) { script->feed(frame); };
    key.attached = [script] { return !script->writes().isEmpty(); };
    return key;
}

} // namespace

WorkflowHarness::WorkflowHarness(WorkflowDialogs *dialogsToUse, Key key)
    : now(QDate(2024, 3, 5), QTime(14, 7, 9))
    , usb(std::make_shared<FakeUsbDevice::Script>())
{
    if (!key.device)
        key = fakeKey(usb);
    m_keySends = key.send;
    link = std::make_unique<usbLink>(std::move(key.device));
    linker = std::make_unique<cLinker>(link.get());
    QObject::connect(linker.get(), &cLinker::TransferBusy, [this](int direction) {
        if (direction == 1)
            ++m_fromKey;
    });
    linker->setPrompt(&prompt);
    linker->setWorkflowDialogs(dialogsToUse ? dialogsToUse : &dialogs);
    workflow = &linker->packingWorkflow();
    workflow->setClock([this] { return now; });
    QFile::remove(workflow->packingLog().filePath());
    // The key is attached once the linker's connect request went out (the
    // link's signal reaches the linker through the event loop).
    if (!QTest::qWaitFor(key.attached, 5000))
        qWarning("key not attached");
}

WorkflowHarness::~WorkflowHarness()
{
    web.release();
    linker.reset(); // the last disconnect goes out while the link exists
    link.reset();
}

void WorkflowHarness::fromKey(const QByteArray &message)
{
    const int before = m_fromKey;
    QByteArray payload = message;
    payload.append('\0'); // filler byte
    std::vector<uint8_t> frame(frameEncodeCapacity(payload.size()));
    int n = 0;
    frameEncode(reinterpret_cast<const uint8_t *>(payload.constData()), payload.size(),
                frame.data(), n);
    m_keySends(QByteArray(reinterpret_cast<const char *>(frame.data()), n));
    if (!QTest::qWaitFor([&] { return m_fromKey > before; }, 5000))
        qWarning("key message not delivered");
}

void WorkflowHarness::keySendsIdentity(quint32 serial, const QString &software,
                                       const QString &hardware)
{
    KMsg msg(MSG_SET);
    msg.add<KTagUInt32>(TAG_SERIAL, serial);
    msg.add<KTagString>(TAG_SW, software.toUtf8().constData());
    msg.add<KTagString>(TAG_HW, hardware.toUtf8().constData());
    fromKey(serialized(msg));
}

void WorkflowHarness::keySendsService(const QString &host, const QString &port)
{
    KMsg msg(MSG_SET);
    msg.add<KTagString>(TAG_SERVICE, host.toUtf8().constData());
    msg.add<KTagUInt16>(TAG_SERVICE_PORT, static_cast<uint16_t>(port.toUInt()));
    fromKey(serialized(msg));
}

void WorkflowHarness::keySendsLoopbackService()
{
    keySendsService(web.host(), QString::number(web.port()));
}

void WorkflowHarness::scan(const QString &rfid)
{
    const QByteArray bytes = tagBytes(rfid);
    KMsg msg(MSG_SET);
    msg.add<KTagBytes>(TAG_SCAN, reinterpret_cast<const uint8_t *>(bytes.constData()),
                       bytes.size());
    fromKey(serialized(msg));
}

void WorkflowHarness::loginNext(const QString &user, const QString &pass)
{
    linker->loginnext(user, pass);
}

void WorkflowHarness::timetableNext(Timetable *timetable)
{
    linker->TTnext(timetable);
}

void WorkflowHarness::centreNext(ExamSchedule *centre)
{
    linker->CenterNext(centre);
}

void WorkflowHarness::centreBack()
{
    linker->CenterBack();
}

void WorkflowHarness::confirmPacking(const QString &comment)
{
    linker->ConfirmPacking(dialogs.lastConfirmation(), comment);
}

void WorkflowHarness::confirmPacking(ConfirmationId confirmation, const QString &comment)
{
    linker->ConfirmPacking(confirmation, comment);
}

void WorkflowHarness::confirmBack()
{
    linker->ConfirmBack();
}

void WorkflowHarness::runToCentres(const QString &rfid)
{
    keySendsLoopbackService();
    scan(rfid);
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Login));
    loginNext("packer", "s3cret");
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Timetables));
    QVERIFY(!dialogs.last().tables.isEmpty());
    timetableNext(dialogs.last().tables.first().data());
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Centres));
}

void WorkflowHarness::sealFirstCentre(const QString &comment)
{
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Centres));
    QVERIFY(!dialogs.last().centres.isEmpty());
    centreNext(dialogs.last().centres.first().data());
    QVERIFY(dialogs.lastIs(ScriptedDialogs::Kind::Confirm));
    confirmPacking(comment);
}

QByteArray WorkflowHarness::logBytes() const
{
    QFile file(workflow->packingLog().filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QStringList WorkflowHarness::logLines() const
{
    const QString text = QString::fromLocal8Bit(logBytes());
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

void useTestFolders(const QTemporaryDir &config, const QTemporaryDir &work)
{
    QVERIFY(config.isValid());
    QVERIFY(work.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    QVERIFY(QDir::setCurrent(work.path()));
    QCoreApplication::setApplicationName("boxwright");
}

void seedStandardData(FakeWebService &web)
{
    web.addUser("packer", "s3cret");
    web.setTimetables(
            {FakeWebService::timetable("T1", 1777881600, 1777892400, "Mathematics", "MA1"),
             FakeWebService::timetable("T2", 1777968000, 1777978800, "Physics", "PH1")});
    web.setSchedules("T1",
                     {FakeWebService::schedule(11, "P1", "T1", "North Hall", "NH"),
                      FakeWebService::schedule(12, "P2", "T1", "Central", "NORC"),
                      FakeWebService::schedule(13, "P3", "T1", "River School", "RS")});
    web.setSchedules("T2", {FakeWebService::schedule(21, "P1", "T2", "North Hall", "NH")});
    web.setLock("303903", FakeWebService::lock("L7", "COMMISSIONED"));
}
