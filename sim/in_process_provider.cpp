#include "sim/in_process_provider.h"

#include <algorithm>
#include <utility>

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

}  // namespace quorix::sim
