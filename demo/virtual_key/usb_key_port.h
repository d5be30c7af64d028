#pragma once

#include "key_commands.h"
#include "key_link.h"

#include <QObject>

#include <atomic>
#include <memory>
#include <thread>

class EmulatedBus;
class EmulatedKey;

// The virtual key's USB side: one emulated key on the bus, a reader thread
// that hands every good frame from the program to the main thread, and the
// framing of the key's own messages.
class UsbKeyPort : public QObject, public KeyLink, public KeyPlug
{
    Q_OBJECT

public:
    explicit UsbKeyPort(EmulatedBus &bus, QObject *parent = nullptr);
    ~UsbKeyPort() override;

    void sendMessage(const QByteArray &message) override;
    bool plug() override;
    void unplug() override;
    bool plugged() const override;

    // The program reads at most this much per transfer, so a longer frame
    // would be lost; such messages are refused here.
    static constexpr int maxFrame = 1024;

signals:
    void hostMessage(const QByteArray &payload);
    void portEvent(const QString &name, const QString &detail);

private:
    std::unique_ptr<EmulatedKey> m_key;
    std::thread m_reader;
    std::atomic<bool> m_stop {false};
};
