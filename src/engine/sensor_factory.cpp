#include "engine/sensor_factory.h"

#include "sensors/sensor_imx252.h"

namespace quorix {

std::unique_ptr<CSensorBase> CreateSensorHead(int32_t cameraId, CControllerBase* controller) {
    constexpr int32_t kImx252 = 12736;
    if (cameraId == kImx252) {
        return std::make_unique<CSensorIMX252>(controller, CSensorIMX252::kBusAddress);
    }
    return nullptr;
}

}  // namespace quorix
