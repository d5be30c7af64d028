#pragma once

#include <libusb.h>

// Identification of the key among USB devices, shared by the program and the
// small probe that udev runs to grant access to keys.

// True when the cached configuration of the device has a vendor-specific
// interface with a bulk IN and a bulk OUT endpoint; needs no open handle.
bool deviceCouldBeKey(libusb_device *device);

// Asks an opened device for its Microsoft OS descriptors (2.0 first, then
// 1.0) and says whether they name the key's interface GUID. Uses short
// control time-outs; needs no claimed interface.
bool deviceCarriesKeyGuid(libusb_device_handle *handle);
