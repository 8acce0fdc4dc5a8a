#include "platform/usb/usb_link.h"

#include <algorithm>
#include <utility>

namespace quorix::platform::usb {

void CancelToken::Cancel() {
    std::function<void()> waker;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
        if (!m_waker)
            return;
        waker = std::move(m_waker);
        m_waker = nullptr;
        m_wakerRunning = true;
    }
    // The waker takes the link's own lock; running it outside ours keeps IsCancelled, which links
    // call under their lock, free of a lock-order cycle.
    waker();
    {
        std::lock_guard lock(m_mutex);
        m_wakerRunning = false;
    }
    m_wakerDone.notify_all();
}

bool CancelToken::IsCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void CancelToken::SetWaker(std::function<void()> waker) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_cancelled) {
            m_waker = std::move(waker);
            return;
        }
    }
    if (waker)
        waker();
}

void CancelToken::ClearWaker() {
    std::unique_lock lock(m_mutex);
    m_waker = nullptr;
    m_wakerDone.wait(lock, [this] { return !m_wakerRunning; });
}

namespace {

struct ProviderRegistry {
    std::mutex mutex;
    std::vector<std::shared_ptr<UsbLinkProvider>> providers;
};

ProviderRegistry& Registry() {
    static ProviderRegistry registry;
    return registry;
}

}  // namespace

void RegisterProvider(const std::shared_ptr<UsbLinkProvider>& provider) {
    if (!provider)
        return;
    ProviderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    if (std::find(registry.providers.begin(), registry.providers.end(), provider) ==
        registry.providers.end())
        registry.providers.push_back(provider);
}

void UnregisterProvider(const std::shared_ptr<UsbLinkProvider>& provider) {
    ProviderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    std::erase(registry.providers, provider);
}

std::vector<std::shared_ptr<UsbLinkProvider>> Providers() {
    ProviderRegistry& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.providers;
}

}  // namespace quorix::platform::usb
