// Test seam of the termios backend: the line settings as termios flags, which
// a pseudo-terminal cannot show (it drops parity), checked without a device.
#pragma once

#include <termios.h>

#include "platform/serial.h"

namespace platform {

// Writes speed, byte size, parity and stop bits into `tio`; false for a
// setting that termios cannot carry.
bool EncodeLineSettings(const DCB& dcb, termios* tio);
void DecodeLineSettings(const termios& tio, DCB* dcb);

}  // namespace platform
