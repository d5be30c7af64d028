#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "fake_usb_device.h"
#include "fake_web_service.h"
#include "linker.h"
#include "packing_workflow.h"
#include "scripted_doubles.h"
#include "usb_link.h"

// One packing point: a key on the fake USB device talking to the real linker,
// the web service on loopback, and the dialogs and message boxes scripted.
class WorkflowHarness
{
public:
    // How the key side is played: the device the link opens, how a frame gets
    // from the key to the link, and whether the linker's first message arrived.
    struct Key
    {
        std::unique_ptr<UsbDevice> device;
        std::function<void(const QByteArray &frame)> send;
        std::function<bool()> attached;
    };

    // dialogs: the dialogs to use; the scripted double when null. Without a
    // key, one on the in-process fake USB device.
    explicit WorkflowHarness(WorkflowDialogs *dialogs = nullptr, Key key = Key());
    ~WorkflowHarness();

    // The key reports its serial number and versions.
    void keySendsIdentity(quint32 serial, const QString &software, const QString &hardware);
    // The key reports its web service endpoint.
    void keySendsService(const QString &host, const QString &port);
    void keySendsLoopbackService();
    // The key reports a scanned tag whose decimal text is rfid; returns once
    // the linker has handled the message.
    void scan(const QString &rfid);

    // Dialog buttons, as the dialogs' signals reach the linker.
    void loginNext(const QString &user, const QString &pass);
    void timetableNext(Timetable *timetable);
    void centreNext(ExamSchedule *centre);
    void centreBack();
    // "Finish" on the newest confirm dialog, or on the one with this id.
    void confirmPacking(const QString &comment);
    void confirmPacking(ConfirmationId confirmation, const QString &comment);
    void confirmBack();

    // Logs in and picks the first timetable: the exam centre list is open.
    void runToCentres(const QString &rfid);
    // From the open exam centre list to the recorded seal.
    void sealFirstCentre(const QString &comment = QString());

    QStringList logLines() const;
    QByteArray logBytes() const;
    int messagesFromKey() const { return m_fromKey; }

    FakeWebService web;
    ScriptedDialogs dialogs;
    ScriptedPrompt prompt;
    QDateTime now;
    std::shared_ptr<FakeUsbDevice::Script> usb;
    std::unique_ptr<usbLink> link;
    std::unique_ptr<cLinker> linker;
    PackingWorkflow *workflow = nullptr;

private:
    void fromKey(const QByteArray &message);

    std::function<void(const QByteArray &)> m_keySends;
    int m_fromKey = 0;
};

// The standard data set: two timetables, three centres for the first one, a
// commissioned lock for tag 303903.
void seedStandardData(FakeWebService &web);
// The bytes a key reports for a tag with this decimal text (big-endian).
QByteArray tagBytes(const QString &rfid);
// For the whole test program, from initTestCase(): settings under config (the
// location is resolved once per process) and the working folder, where the
// client leaves its trace files, in work.
void useTestFolders(const QTemporaryDir &config, const QTemporaryDir &work);
