#pragma once
// A serial file that reaches up into the flash layer and, without a folder,
// into the simulator: the layer check must refuse both.
#include "codec/Crc16.h"
#include "flash/FlashImage.h"
#include "serial/SerialDevice.h"
#include "SimSensor.h"
