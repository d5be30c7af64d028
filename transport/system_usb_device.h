#pragma once

#include "usb_device.h"

#include <memory>

// The device layer of the platform the program was built for.
std::unique_ptr<UsbDevice> makeSystemUsbDevice();
