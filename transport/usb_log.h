#pragma once

#include <QLoggingCategory>

// Category of the USB link and its device layer.
Q_DECLARE_LOGGING_CATEGORY(lcUsbLink)
