#include "support/umockdev_camera.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <umockdev.h>

#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/emulator.h"

namespace quorix::testing {

namespace {

constexpr char kSysPath[] = "/sys/devices/pci0000:00/0000:00:14.0/usb2/2-1";
constexpr int kBus = 2;

using platform::usb::CancelToken;
using platform::usb::SetupPacket;
using platform::usb::TransferResult;

// One submitted URB until libusb reaps it.
struct Urb {
    UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* urb = nullptr;     // the client's usbdevfs_urb (a reference held)
    UMockdevIoctlData* buffer = nullptr;  // its data buffer (a reference held)
    CancelToken cancel;
    bool finished = false;

    usbdevfs_urb& Header() const { return *reinterpret_cast<usbdevfs_urb*>(urb->data); }
    ~Urb() {
        if (buffer != nullptr)
            g_object_unref(buffer);
        if (urb != nullptr)
            g_object_unref(urb);
    }
};

int StatusOf(TransferResult result) {
    switch (result) {
        case TransferResult::kCompleted:
            return 0;
        case TransferResult::kStalled:
            return -EPIPE;
        case TransferResult::kCancelled:
            return -ENOENT;
        case TransferResult::kDisconnected:
            return -ESHUTDOWN;
        case TransferResult::kError:
            break;
    }
    return -EPROTO;
}

}  // namespace

struct UmockdevCamera::State {
    std::shared_ptr<sim::EmulatedCamera> camera;
    UMockdevTestbed* testbed = nullptr;
    UMockdevIoctlBase* handler = nullptr;
    int deviceNumber = 2;
    bool plugged = false;

    mutable std::mutex mutex;
    std::condition_variable workAdded;
    bool stopping = false;
    bool claimedElsewhere = false;
    uint64_t submissions = 0;
    std::vector<std::shared_ptr<Urb>> unfinished;
    std::map<UMockdevIoctlClient*, std::deque<std::shared_ptr<Urb>>> finished;
    std::map<uint8_t, std::deque<std::shared_ptr<Urb>>> queues;  // bulk URBs by endpoint
    std::map<uint8_t, std::thread> workers;

    std::string Node() const {
        char node[32];
        std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", kBus, deviceNumber);
        return node;
    }

    void Finish(const std::shared_ptr<Urb>& urb) {
        std::lock_guard lock(mutex);
        urb->finished = true;
        std::erase(unfinished, urb);
        finished[urb->client].push_back(urb);
    }

    void RunWorker(uint8_t endpoint) {
        std::unique_lock lock(mutex);
        for (;;) {
            workAdded.wait(lock, [&] { return stopping || !queues[endpoint].empty(); });
            if (stopping)
                return;
            std::shared_ptr<Urb> urb = queues[endpoint].front();
            queues[endpoint].pop_front();
            lock.unlock();
            usbdevfs_urb& header = urb->Header();
            size_t moved = 0;
            const TransferResult result =
                urb->cancel.IsCancelled()
                    ? TransferResult::kCancelled
                    : camera->BulkTransfer(endpoint, urb->buffer->data,
                                           static_cast<size_t>(header.buffer_length), &moved,
                                           urb->cancel);
            header.status = StatusOf(result);
            header.actual_length = static_cast<int>(moved);
            Finish(urb);
            lock.lock();
        }
    }

    bool Submit(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        UMockdevIoctlData* urbData =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(usbdevfs_urb), nullptr);
        if (urbData == nullptr)
            return false;
        auto urb = std::make_shared<Urb>();
        urb->client = client;
        urb->urb = urbData;
        usbdevfs_urb& header = urb->Header();
        urb->buffer =
            umockdev_ioctl_data_resolve(urbData, offsetof(usbdevfs_urb, buffer),
                                        static_cast<gsize>(header.buffer_length), nullptr);
        if (urb->buffer == nullptr)
            return false;
        {
            std::lock_guard lock(mutex);
            ++submissions;
            if (!plugged || !camera->IsConnected())
                return errno = ENODEV, false;
        }
        header.status = 0;
        header.actual_length = 0;
        if (header.type == USBDEVFS_URB_TYPE_CONTROL) {
            uint8_t* bytes = urb->buffer->data;
            SetupPacket setup;
            setup.requestType = bytes[0];
            setup.request = bytes[1];
            setup.value = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
            setup.index = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
            setup.length = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
            size_t moved = 0;
            const TransferResult result = camera->ControlTransfer(setup, bytes + 8, &moved);
            header.status = StatusOf(result);
            header.actual_length = static_cast<int>(moved);
            {
                std::lock_guard lock(mutex);
                urb->finished = true;
                finished[client].push_back(urb);
            }
            return true;
        }
        if (header.type != USBDEVFS_URB_TYPE_BULK)
            return errno = EINVAL, false;
        const uint8_t endpoint = header.endpoint;
        std::lock_guard lock(mutex);
        unfinished.push_back(urb);
        queues[endpoint].push_back(urb);
        if (workers.find(endpoint) == workers.end())
            workers.emplace(endpoint, std::thread(&State::RunWorker, this, endpoint));
        workAdded.notify_all();
        return true;
    }

    // The oldest finished URB of this client, handed back to libusb.
    int Reap(UMockdevIoctlClient* client, UMockdevIoctlData* argument) {
        std::shared_ptr<Urb> urb;
        {
            std::lock_guard lock(mutex);
            auto& done = finished[client];
            if (!done.empty()) {
                urb = done.front();
                done.pop_front();
            } else {
                return plugged ? EAGAIN : ENODEV;
            }
        }
        UMockdevIoctlData* pointer =
            umockdev_ioctl_data_resolve(argument, 0, sizeof(gpointer), nullptr);
        if (pointer == nullptr)
            return EFAULT;
        umockdev_ioctl_data_set_ptr(pointer, 0, urb->urb);
        g_object_unref(pointer);
        return 0;
    }

    int Discard(UMockdevIoctlData* argument) {
        gulong address = 0;
        std::memcpy(&address, argument->data, sizeof address);
        std::shared_ptr<Urb> found;
        {
            std::lock_guard lock(mutex);
            for (const auto& urb : unfinished)
                if (urb->urb->client_addr == address)
                    found = urb;
        }
        if (!found)
            return EINVAL;  // completed already: libusb reaps it as it is
        found->cancel.Cancel();
        return 0;
    }

    static gboolean OnIoctl(UMockdevIoctlBase* /*base*/, UMockdevIoctlClient* client,
                            gpointer user) {
        auto& state = *static_cast<State*>(user);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
        const auto complete = [client](int error) {
            umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
            return TRUE;
        };
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES: {
                UMockdevIoctlData* value =
                    umockdev_ioctl_data_resolve(argument, 0, sizeof(guint32), nullptr);
                if (value == nullptr)
                    return complete(EFAULT);
                const guint32 capabilities =
                    USBDEVFS_CAP_BULK_SCATTER_GATHER | USBDEVFS_CAP_BULK_CONTINUATION |
                    USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                    USBDEVFS_CAP_ZERO_PACKET;
                std::memcpy(value->data, &capabilities, sizeof capabilities);
                g_object_unref(value);
                return complete(0);
            }
            case USBDEVFS_GETDRIVER:
            case USBDEVFS_IOCTL:
                return complete(ENODATA);  // no kernel driver is bound to the interface
            case USBDEVFS_CLAIMINTERFACE:
            case USBDEVFS_DISCONNECT_CLAIM: {
                std::lock_guard lock(state.mutex);
                return complete(state.claimedElsewhere ? EBUSY : 0);
            }
            case USBDEVFS_RELEASEINTERFACE:
            case USBDEVFS_SETINTERFACE:
                return complete(0);
            case USBDEVFS_CLEAR_HALT: {
                UMockdevIoctlData* value =
                    umockdev_ioctl_data_resolve(argument, 0, sizeof(unsigned int), nullptr);
                if (value == nullptr)
                    return complete(EFAULT);
                unsigned int endpoint = 0;
                std::memcpy(&endpoint, value->data, sizeof endpoint);
                g_object_unref(value);
                return complete(state.camera->ResetPipe(static_cast<uint8_t>(endpoint)) ? 0
                                                                                        : EPIPE);
            }
            case USBDEVFS_RESET:
                return complete(state.camera->ResetDevice() ? 0 : ENODEV);
            case USBDEVFS_SUBMITURB:
                errno = EFAULT;
                return complete(state.Submit(client, argument) ? 0 : errno);
            case USBDEVFS_REAPURB:
            case USBDEVFS_REAPURBNDELAY:
                return complete(state.Reap(client, argument));
            case USBDEVFS_DISCARDURB:
                return complete(state.Discard(argument));
            default:
                std::fprintf(stderr, "umockdev camera: ioctl 0x%lx not emulated\n", request);
                return complete(ENOTTY);
        }
    }
};

bool UmockdevCamera::InMockEnvironment() {
    // umockdev_in_mock_environment() only answers true once a testbed exists.
    const char* preload = std::getenv("LD_PRELOAD");  // NOLINT(concurrency-mt-unsafe)
    return preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr;
}

UmockdevCamera::UmockdevCamera(const sim::CameraConfig& config)
    : m_state(std::make_unique<State>()) {
    m_state->camera = sim::CreateCamera(config);
    m_state->testbed = umockdev_testbed_new();
}

UmockdevCamera::~UmockdevCamera() {
    if (m_state->plugged)
        Unplug();
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->workAdded.notify_all();
    for (auto& [endpoint, worker] : m_state->workers)
        worker.join();
    if (m_state->handler != nullptr)
        g_object_unref(m_state->handler);
    g_object_unref(m_state->testbed);
}

const std::shared_ptr<sim::EmulatedCamera>& UmockdevCamera::Camera() const {
    return m_state->camera;
}

bool UmockdevCamera::Plug() {
    State& state = *m_state;
    if (state.plugged)
        return true;
    if (!state.camera->IsConnected())
        sim::Replug(state.camera);
    ++state.deviceNumber;
    const std::string node = state.Node();
    if (state.handler == nullptr) {
        state.handler = umockdev_ioctl_base_new();
        g_signal_connect(state.handler, "handle-ioctl", G_CALLBACK(State::OnIoctl), &state);
    }
    GError* error = nullptr;
    // The handler before the device: adding the device makes its node.
    if (!umockdev_testbed_attach_ioctl(state.testbed, node.c_str(), state.handler, &error)) {
        std::fprintf(stderr, "umockdev camera: %s\n", error->message);
        g_error_free(error);
        return false;
    }
    const sim::CameraConfig& config = state.camera->Config();
    // Device: USB 3.0, class 0, bMaxPacketSize0 9 (512 bytes), the camera's IDs, one
    // configuration. Configuration: one vendor-specific interface with bulk endpoints 0x81 and
    // 0x83 (in) and 0x01 (out), 1024-byte packets and SuperSpeed companions (burst 16).
    char descriptors[256];
    std::snprintf(descriptors, sizeof descriptors,
                  "12010003000000"
                  "09"
                  "%02x%02x"
                  "%02x%02x"
                  "0001"
                  "010203"
                  "01"
                  "0902"
                  "3900"
                  "01"
                  "01"
                  "00"
                  "80"
                  "32"
                  "0904"
                  "00"
                  "00"
                  "03"
                  "ff"
                  "00"
                  "00"
                  "00"
                  "0705"
                  "81"
                  "02"
                  "0004"
                  "00"
                  "0630"
                  "0f"
                  "00"
                  "0000"
                  "0705"
                  "01"
                  "02"
                  "0004"
                  "00"
                  "0630"
                  "0f"
                  "00"
                  "0000"
                  "0705"
                  "83"
                  "02"
                  "0004"
                  "00"
                  "0630"
                  "00"
                  "00"
                  "0000",
                  config.vendorId & 0xFF, config.vendorId >> 8, config.productId & 0xFF,
                  config.productId >> 8);
    gchar* record = g_strdup_printf(
        "P: %s\nN: bus/usb/%03d/%03d\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
        "E: BUSNUM=%03d\nE: DEVNUM=%03d\nE: DEVNAME=%s\nE: PRODUCT=%x/%x/100\n"
        "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: busnum=%d\\n\nA: devnum=%d\\n\n"
        "A: speed=5000\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n"
        "A: manufacturer=Quorix\\n\nA: product=Quorix 252\\n\n"
        "H: descriptors=%s\n",
        kSysPath + 4, kBus, state.deviceNumber, kBus, state.deviceNumber, node.c_str(),
        config.vendorId, config.productId, config.vendorId, config.productId, kBus,
        state.deviceNumber, descriptors);
    const bool added = umockdev_testbed_add_from_string(state.testbed, record, &error);
    g_free(record);
    if (!added) {
        std::fprintf(stderr, "umockdev camera: %s\n", error->message);
        g_error_free(error);
        return false;
    }
    {
        std::lock_guard lock(state.mutex);
        state.plugged = true;
    }
    umockdev_testbed_uevent(state.testbed, kSysPath, "add");
    return true;
}

void UmockdevCamera::Unplug() {
    State& state = *m_state;
    if (!state.plugged)
        return;
    {
        std::lock_guard lock(state.mutex);
        state.plugged = false;
    }
    // Pending transfers end as on the bus: the camera's own operations report the unplug.
    sim::Unplug(state.camera);
    umockdev_testbed_uevent(state.testbed, kSysPath, "remove");
    umockdev_testbed_remove_device(state.testbed, kSysPath);
}

void UmockdevCamera::SetClaimedElsewhere(bool claimed) {
    std::lock_guard lock(m_state->mutex);
    m_state->claimedElsewhere = claimed;
}

std::string UmockdevCamera::Node() const {
    return m_state->Node();
}

bool UmockdevCamera::SetNodeMode(unsigned mode) {
    gchar* root = umockdev_testbed_get_root_dir(m_state->testbed);
    const std::string file = std::string(root) + m_state->Node();
    g_free(root);
    return chmod(file.c_str(), static_cast<mode_t>(mode)) == 0;
}

uint64_t UmockdevCamera::Submissions() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->submissions;
}

}  // namespace quorix::testing
