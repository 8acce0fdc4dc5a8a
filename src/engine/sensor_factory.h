#pragma once

#include <cstdint>
#include <memory>

namespace quorix {

class CControllerBase;
class CSensorBase;

// Builds the sensor head that belongs to a camera ID, handing it the controller interface and
// its bus address. Only the IMX252 head (camera ID 12736) is built here; any other camera ID
// gives null, and the camera then does not open.
std::unique_ptr<CSensorBase> CreateSensorHead(int32_t cameraId, CControllerBase* controller);

}  // namespace quorix
