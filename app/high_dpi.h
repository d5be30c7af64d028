#pragma once

// Scaling as Qt 5 does it with high-DPI scaling on: layouts and fonts follow the
// screen's scale factor rounded to a whole number, and pictures use their "@2x"
// files. Call before the application object is created.
void enableHighDpiScaling();
