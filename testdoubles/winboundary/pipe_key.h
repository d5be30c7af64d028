#pragma once

#include "frame_assembler.h"
#include "key_link.h"

#include <QByteArray>
#include <QObject>

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

struct PipeKeyOptions
{
    GUID interfaceClass {}; // the key's own when left zero
    QByteArray configuration; // the emulated key's when empty
};

// A test key behind the Win32 boundary: a present device interface whose
// device path is a named pipe, served by a thread of its own that plays the
// key's USB side (descriptors first, then framed messages in 64-byte
// transfers). The key's protocol comes from a VirtualKey connected to
// hostMessage and given this object as its KeyLink, or from raw frames.
class PipeKey : public QObject, public KeyLink
{
    Q_OBJECT

public:
    using Options = PipeKeyOptions;

    explicit PipeKey(const Options &options = Options {}, QObject *parent = nullptr);
    ~PipeKey() override; // unplugs

    // Lists the device interface, serves its pipe and announces the arrival.
    void plug();
    // Delists the interface and closes the pipe; pending transfers fail.
    void unplug();
    bool plugged() const { return server_.joinable(); }

    // Bytes from the key, in transfers of at most 64 bytes.
    void queueFromKey(const QByteArray &bytes);
    void sendMessage(const QByteArray &message) override; // framed, then queued
    // The key halts a bulk pipe; the program must reset it.
    void stallIn();
    void stallOut();

    // Next frame payload from the program, waiting up to timeoutMs.
    bool takeFrame(QByteArray &payload, int timeoutMs);
    // Times the program opened the pipe (each open reads the descriptors).
    int opens() const;
    // Frames received from the program so far.
    int framesFromHost() const;

    static constexpr int kMaxTransfer = 64;

signals:
    // One frame payload from the program (emitted on the key's thread).
    void hostMessage(const QByteArray &payload);

private:
    void serve(HANDLE pipe);
    bool connectHost(HANDLE pipe);
    bool writeMessage(HANDLE pipe, const QByteArray &message);
    void flushOutgoing(HANDLE pipe);
    void fromHost(const char *bytes, int n);

    Options options_;
    std::wstring path_;
    int interfaceId_ = 0;
    std::thread server_;
    HANDLE stop_ = nullptr;
    HANDLE wake_ = nullptr;
    FrameAssembler assembler_; // the key thread's

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<QByteArray> outgoing_; // marked messages for the pipe
    std::deque<QByteArray> frames_; // payloads from the program
    int opens_ = 0;
    int framesFromHost_ = 0;
};
