#include "sim/emulator.h"

#include <atomic>
#include <mutex>
#include <string>

#include "sim/in_process_provider.h"

namespace quorix::sim {

namespace {

// Instance ids are unique in the process: one per plug-in, whichever camera it belongs to.
std::string NextInstanceId() {
    static std::atomic<uint64_t> counter{0};
    return "sim&" + std::to_string(++counter);
}

struct Registry {
    std::once_flag registered;
    std::shared_ptr<InProcessProvider> provider = std::make_shared<InProcessProvider>();
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

std::shared_ptr<platform::usb::UsbLinkProvider> EmulatorProvider() {
    return TheRegistry().provider;
}

std::shared_ptr<EmulatedCamera> CreateCamera(const CameraConfig& config) {
    return std::make_shared<EmulatedCamera>(config, NextInstanceId());
}

std::shared_ptr<EmulatedCamera> AttachCamera(const CameraConfig& config) {
    Registry& registry = TheRegistry();
    std::call_once(registry.registered,
                   [&registry] { platform::usb::RegisterProvider(registry.provider); });
    auto camera = CreateCamera(config);
    registry.provider->Add(camera);
    return camera;
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

void DetachCamera(const std::shared_ptr<EmulatedCamera>& camera) {
    if (!camera)
        return;
    camera->Unplug();
    TheRegistry().provider->Remove(camera);
}

void DetachAllCameras() {
    for (const auto& camera : TheRegistry().provider->RemoveAll())
        camera->Unplug();
}

std::vector<std::shared_ptr<EmulatedCamera>> AttachedCameras() {
    return TheRegistry().provider->Cameras();
}

}  // namespace quorix::sim
