#include "sim/emulator.h"

#include "sim/instance_id.h"

namespace quorix::sim {

std::shared_ptr<EmulatedCamera> CreateCamera(const CameraConfig& config) {
    return std::make_shared<EmulatedCamera>(config, NextInstanceId());
}

void Unplug(const std::shared_ptr<EmulatedCamera>& camera) {
    if (camera)
        camera->Unplug();
}

void Replug(const std::shared_ptr<EmulatedCamera>& camera) {
    if (!camera)
        return;
    camera->Unplug();
    camera->Replug(NextInstanceId());
}

}  // namespace quorix::sim
