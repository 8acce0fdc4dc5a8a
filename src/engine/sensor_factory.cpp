#include "engine/sensor_factory.h"

#include "camera/camera_model.h"
#include "sensors/sensor_imx252.h"

namespace quorix {

std::unique_ptr<CSensorBase> CreateSensorHead(int32_t cameraId, CControllerBase* controller) {
    if (cameraId == camera::kCameraId) {
        return std::make_unique<CSensorIMX252>(controller, CSensorIMX252::kBusAddress);
    }
    return nullptr;
}

}  // namespace quorix
