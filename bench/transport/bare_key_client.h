#pragma once

#include "emulated_key.h"

#include <libusb.h>

#include <QByteArray>
#include <QElapsedTimer>

// The emulated key opened straight through libusb, without the link.
class BareClient
{
public:
    BareClient(const EmulatedKeyConfig &config, const QByteArray &frame)
        : frame_(frame)
    {
        if (libusb_init(&ctx_) != 0) {
            ctx_ = nullptr;
            return;
        }
        handle_ = libusb_open_device_with_vid_pid(ctx_, config.vendorId, config.productId);
        if (handle_ && libusb_claim_interface(handle_, 0) == 0)
            claimed_ = true;
    }
    ~BareClient()
    {
        if (claimed_)
            libusb_release_interface(handle_, 0);
        if (handle_)
            libusb_close(handle_);
        if (ctx_)
            libusb_exit(ctx_);
    }
    // Writes the frame and reads it back; microseconds, or negative on failure.
    double roundTrip()
    {
        if (!claimed_)
            return -1;
        QElapsedTimer timer;
        timer.start();
        int moved = 0;
        if (libusb_bulk_transfer(handle_, 0x01, reinterpret_cast<uint8_t *>(frame_.data()),
                                 frame_.size(), &moved, 2000)
                    != 0
            || libusb_bulk_transfer(handle_, 0x81, in_, sizeof in_, &moved, 2000) != 0
            || moved != frame_.size())
            return -1;
        return timer.nsecsElapsed() / 1000.0;
    }

private:
    libusb_context *ctx_ = nullptr;
    libusb_device_handle *handle_ = nullptr;
    bool claimed_ = false;
    QByteArray frame_;
    uint8_t in_[1024] = {};
};
