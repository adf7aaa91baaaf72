#pragma once

#include <QString>
#include <exception>

// The advice logged after a serial port that could not be opened because the
// user may not access it (on Linux: not a member of the dialout group).
// Empty for any other failure.
QString PortAccessHint(const std::exception &failure);
