#include "sim/in_process_provider.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "sim/emulator.h"
#include "sim/instance_id.h"

namespace quorix::sim {

std::vector<platform::usb::LinkDescriptor> InProcessProvider::Enumerate() {
    std::vector<platform::usb::LinkDescriptor> present;
    for (const auto& camera : Cameras()) {
        if (camera->IsConnected())
            present.push_back(camera->Descriptor());
    }
    return present;
}

std::shared_ptr<platform::usb::UsbLink> InProcessProvider::Open(const std::string& instanceId) {
    for (const auto& camera : Cameras()) {
        if (camera->InstanceId() != instanceId)
            continue;
        // Null when the camera was unplugged meanwhile. The link checks the plug-in itself, so
        // a replug between the two calls above cannot hand out a link under a stale id.
        auto link = camera->OpenPlugLink();
        if (link && camera->InstanceId() == instanceId)
            return link;
        return nullptr;
    }
    return nullptr;
}

void InProcessProvider::Add(const std::shared_ptr<EmulatedCamera>& camera) {
    std::lock_guard lock(m_mutex);
    if (std::find(m_cameras.begin(), m_cameras.end(), camera) == m_cameras.end())
        m_cameras.push_back(camera);
}

bool InProcessProvider::Remove(const std::shared_ptr<EmulatedCamera>& camera) {
    std::lock_guard lock(m_mutex);
    return std::erase(m_cameras, camera) > 0;
}

std::vector<std::shared_ptr<EmulatedCamera>> InProcessProvider::RemoveAll() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_cameras, {});
}

std::vector<std::shared_ptr<EmulatedCamera>> InProcessProvider::Cameras() const {
    std::lock_guard lock(m_mutex);
    return m_cameras;
}

// --- The process's provider and the cameras attached to it (sim/emulator.h) ------------------

namespace {

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

std::shared_ptr<EmulatedCamera> AttachCamera(const CameraConfig& config) {
    Registry& registry = TheRegistry();
    std::call_once(registry.registered,
                   [&registry] { platform::usb::RegisterProvider(registry.provider); });
    auto camera = CreateCamera(config);
    registry.provider->Add(camera);
    return camera;
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
