#pragma once

#include "fake_usb_device.h"
#include "linker.h"
#include "operator_prompt.h"
#include "usb_link.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>

#include <memory>

// Operator double: records every message and returns at once, as if OK was pressed.
class ScriptedPrompt : public OperatorPrompt
{
public:
    void message(Kind kind, const QString &title, const QString &text) override
    {
        shown << QStringLiteral("%1|%2|%3")
                         .arg(kind == Kind::Warning ? "warning" : "info", title, text);
    }
    QStringList shown;
};

// The linker with its workflow entry observed instead of run.
class ObservedLinker : public cLinker
{
public:
    using cLinker::cLinker;
    QStringList workflowStarts;

protected:
    void startWorkflow() override { workflowStarts << scannedTag(); }
};

// A linker on a fake key: the link's thread attaches to the fake device and the
// linker answers with its connect request, as with a real key.
class KeyRig
{
public:
    // Unless told not to, waits for the attach, so no test sets message
    // expectations while the link thread is still logging it.
    explicit KeyRig(bool waitForAttach = true);
    ~KeyRig();

    // Waits until the key is attached and the connect request went out.
    bool attach();
    // Payloads (filler byte included) of the frames written since the last call.
    QList<QByteArray> takeSent();
    // Raw transfers written since the last call of takeSent or takeWrites.
    QList<QByteArray> takeWrites();
    // Waits until at least count more frames were written.
    bool waitForSent(int count, int timeoutMs = 3000);
    // Delivers one key message to the linker as the link would.
    void fromKey(const QByteArray &payload) { linker->receiveUSB(payload); }
    // Sends the six identity tags in one message, so the key counts as ready.
    void identify(const char *sw = "9.6.2", const char *srv = "127.0.0.1", uint16_t port = 5000);

    std::shared_ptr<FakeUsbDevice::Script> script;
    std::unique_ptr<usbLink> link;
    std::unique_ptr<ObservedLinker> linker;
    ScriptedPrompt prompt;

private:
    int consumed = 0;
};

// Records the linker's signals in emission order as "name(args)".
class SignalLog
{
public:
    explicit SignalLog(cLinker *linker);
    QStringList take();
    QStringList entries;

private:
    QObject context; // ends the connections with the log
};

// Decodes every good frame in a byte stream (stray bytes between frames ignored).
QList<QByteArray> framesIn(const QByteArray &stream);
// One frame for a payload, as the link writes it.
QByteArray frameOf(const QByteArray &payload);
// Bytes from a hex text such as "01 01 13 05 00 00".
QByteArray hex(const char *text);
