#include "platform/usb/libusb_link.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <limits>
#include <set>
#include <thread>
#include <utility>

#include "platform/log.h"
#include "platform/usb/device_path.h"

namespace quorix::platform::usb {

namespace {

constexpr int kInterfaceNumber = 0;
constexpr char kUdevRuleHint[] =
    "install the udev rule 70-quorix.rules that comes with the library (see the README: "
    "sudo install -m 644 70-quorix.rules /etc/udev/rules.d/ && sudo udevadm trigger), then "
    "unplug and replug the camera";

const char* Environment(const char* name) {
    return std::getenv(name);  // NOLINT(concurrency-mt-unsafe): the SDK never sets it
}

std::optional<size_t> ParsePositive(const char* text) {
    if (text == nullptr || *text == '\0')
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > (1ULL << 30) || *text == '-')
        return std::nullopt;
    return static_cast<size_t>(value);
}

// "<bus>-<port>.<port>...": how the kernel names the device's place, so it stays with the port.
std::string InstanceIdOf(libusb_device* device) {
    uint8_t ports[8];
    const int count = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string id = std::to_string(libusb_get_bus_number(device));
    for (int i = 0; i < count; ++i) {
        id += i == 0 ? '-' : '.';
        id += std::to_string(ports[i]);
    }
    if (count <= 0)
        id += "-0";
    return id;
}

std::string NodeOf(libusb_device* device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return node;
}

uint32_t SpeedWordOf(int speed) {
    switch (speed) {
        case LIBUSB_SPEED_SUPER:
        case LIBUSB_SPEED_SUPER_PLUS:
            return 4;
        case LIBUSB_SPEED_HIGH:
            return 3;
        default:
            return 2;
    }
}

}  // namespace

std::vector<uint16_t> AcceptedVendorIds(const char* text) {
    std::vector<uint16_t> ids{LibusbProvider::kDefaultVendorId};
    if (text == nullptr)
        return ids;
    std::string_view rest(text);
    while (!rest.empty()) {
        const size_t cut = rest.find_first_of(", \t;");
        std::string_view item = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
        if (item.starts_with("0x") || item.starts_with("0X"))
            item.remove_prefix(2);
        if (item.empty() || item.size() > 4)
            continue;
        uint16_t value = 0;
        bool valid = true;
        for (const char c : item) {
            int digit = 0;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                valid = false;
            value = static_cast<uint16_t>(value << 4 | digit);
        }
        if (valid && std::find(ids.begin(), ids.end(), value) == ids.end())
            ids.push_back(value);
    }
    return ids;
}

std::optional<BulkPlan> PlanBulkTransfers(const char* transferKib, const char* transfers,
                                          size_t budgetBytes, std::string* error) {
    BulkPlan plan;
    const auto fail = [error](std::string why) -> std::optional<BulkPlan> {
        if (error != nullptr)
            *error = std::move(why);
        return std::nullopt;
    };
    if (transferKib != nullptr && *transferKib != '\0') {
        const std::optional<size_t> kib = ParsePositive(transferKib);
        if (!kib || *kib > (size_t{1} << 20))
            return fail(std::string(LibusbProvider::kTransferKibVariable) + "=" + transferKib +
                        " is not a size in KiB from 1 to 1048576");
        plan.pieceBytes = *kib << 10;
    }
    if (transfers != nullptr && *transfers != '\0') {
        const std::optional<size_t> depth = ParsePositive(transfers);
        if (!depth || *depth > 1024)
            return fail(std::string(LibusbProvider::kTransfersVariable) + "=" + transfers +
                        " is not a count from 1 to 1024");
        plan.depth = *depth;
    }
    if (budgetBytes != 0 && plan.pieceBytes * plan.depth > budgetBytes) {
        char text[400];
        std::snprintf(text, sizeof text,
                      "%zu bulk transfers of %zu KiB in flight need %zu KiB, more than the "
                      "kernel's usbfs budget of %zu KiB (usbfs_memory_mb): lower %s or %s",
                      plan.depth, plan.pieceBytes >> 10, (plan.pieceBytes * plan.depth) >> 10,
                      budgetBytes >> 10, LibusbProvider::kTransfersVariable,
                      LibusbProvider::kTransferKibVariable);
        return fail(text);
    }
    return plan;
}

size_t UsbfsBudgetBytes() {
    std::ifstream file("/sys/module/usbcore/parameters/usbfs_memory_mb");
    unsigned long long megabytes = 0;
    if (!(file >> megabytes))
        return LibusbProvider::kDefaultBudgetBytes;
    if (megabytes == 0 || megabytes > (std::numeric_limits<size_t>::max() >> 20))
        return 0;
    return static_cast<size_t>(megabytes) << 20;
}

class LibusbLink;

struct LibusbProvider::Impl {
    libusb_context* context = nullptr;
    std::thread eventThread;
    std::atomic<bool> stopping{false};

    std::mutex mutex;
    HotplugListener listener;
    std::vector<std::weak_ptr<LibusbLink>> links;
    std::set<std::string> reported;  // "<cause> <instance>" lines already written

    std::optional<BulkPlan> plan;
    std::string planError;
    size_t budgetBytes = 0;  // 0: no limit
    std::mutex budgetMutex;
    size_t bytesInFlight = 0;

    // Writes a line on stderr, whatever QUORIX_LOG says, once per key until Forget(key).
    void Report(const std::string& key, const char* text) {
        {
            std::lock_guard lock(mutex);
            if (!reported.insert(key).second)
                return;
        }
        std::fprintf(stderr, "[Usb] %s\n", text);
    }
    void Forget(const std::string& instanceId) {
        std::lock_guard lock(mutex);
        std::erase_if(reported,
                      [&](const std::string& key) { return key.ends_with(" " + instanceId); });
    }

    // Takes up to `wanted` pieces' worth of the budget; the number of pieces granted.
    size_t Reserve(size_t wanted, size_t pieceBytes) {
        std::lock_guard lock(budgetMutex);
        if (budgetBytes == 0) {
            bytesInFlight += wanted * pieceBytes;
            return wanted;
        }
        const size_t free = budgetBytes > bytesInFlight ? budgetBytes - bytesInFlight : 0;
        const size_t granted = std::min(wanted, free / pieceBytes);
        bytesInFlight += granted * pieceBytes;
        return granted;
    }
    void Give(size_t bytes) {
        std::lock_guard lock(budgetMutex);
        bytesInFlight -= std::min(bytes, bytesInFlight);
    }

    bool Accepts(const libusb_device_descriptor& descriptor) const {
        if (descriptor.idProduct != kProductId)
            return false;
        const std::vector<uint16_t> vendors = AcceptedVendorIds(Environment(kVendorIdsVariable));
        return std::find(vendors.begin(), vendors.end(), descriptor.idVendor) != vendors.end();
    }

    void DeviceLeft(libusb_device* device);
};

// One opened camera: its libusb handle with interface 0 claimed.
class LibusbLink final : public UsbLink {
public:
    LibusbLink(std::shared_ptr<LibusbProvider> provider, LibusbProvider::Impl& impl,
               libusb_device_handle* handle, const BulkPlan& plan)
        : m_provider(std::move(provider)),
          m_impl(impl),
          m_handle(handle),
          m_device(libusb_get_device(handle)),
          m_speed(SpeedWordOf(libusb_get_device_speed(m_device))),
          m_plan(plan) {}

    ~LibusbLink() override {
        libusb_release_interface(m_handle, kInterfaceNumber);
        libusb_close(m_handle);
    }
    LibusbLink(const LibusbLink&) = delete;
    LibusbLink& operator=(const LibusbLink&) = delete;

    libusb_device* Device() const { return m_device; }
    void MarkGone() { m_connected = false; }

    TransferResult ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                   size_t* transferred) override {
        *transferred = 0;
        if (!m_connected)
            return TransferResult::kDisconnected;
        const int result = libusb_control_transfer(m_handle, setup.requestType, setup.request,
                                                   setup.value, setup.index, data, setup.length,
                                                   LibusbProvider::kSendTimeoutMs);
        if (result >= 0) {
            *transferred = static_cast<size_t>(result);
            return TransferResult::kCompleted;
        }
        return ResultOfError(result);
    }

    TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length, size_t* transferred,
                                CancelToken& cancel) override;

    bool ResetPipe(uint8_t endpoint) override {
        return m_connected && libusb_clear_halt(m_handle, endpoint) == 0;
    }

    bool ResetDevice() override {
        if (!m_connected)
            return false;
        const int result = libusb_reset_device(m_handle);
        if (result == LIBUSB_ERROR_NOT_FOUND || result == LIBUSB_ERROR_NO_DEVICE) {
            // The camera came back as another device (its descriptors changed) or left.
            m_connected = false;
            return false;
        }
        return result == 0;
    }

    uint32_t DeviceSpeed() override { return m_speed; }
    bool IsConnected() const override { return m_connected; }

    struct Piece;
    struct Batch;

private:
    TransferResult ResultOfError(int error) {
        switch (error) {
            case LIBUSB_ERROR_PIPE:
                return TransferResult::kStalled;
            case LIBUSB_ERROR_NO_DEVICE:
                m_connected = false;
                return TransferResult::kDisconnected;
            default:
                return TransferResult::kError;
        }
    }

    const std::shared_ptr<LibusbProvider> m_provider;  // keeps the libusb context alive
    LibusbProvider::Impl& m_impl;
    libusb_device_handle* const m_handle;
    libusb_device* const m_device;
    const uint32_t m_speed;
    const BulkPlan m_plan;
    std::atomic<bool> m_connected{true};
};

// The pieces of one bulk transfer in flight, completed on the provider's event thread.
struct LibusbLink::Batch {
    std::mutex mutex;
    std::condition_variable changed;
    bool cancelRequested = false;
};

struct LibusbLink::Piece {
    Batch* batch = nullptr;
    libusb_transfer* transfer = nullptr;
    size_t offset = 0;
    size_t length = 0;
    bool inFlight = false;
    bool done = false;
    libusb_transfer_status status = LIBUSB_TRANSFER_COMPLETED;
    size_t actual = 0;
};

namespace {

void LIBUSB_CALL OnPieceDone(libusb_transfer* transfer);

}  // namespace

TransferResult LibusbLink::BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length,
                                        size_t* transferred, CancelToken& cancel) {
    *transferred = 0;
    if (!m_connected)
        return TransferResult::kDisconnected;
    if (cancel.IsCancelled())
        return TransferResult::kCancelled;
    const bool in = (endpoint & 0x80) != 0;
    const size_t pieceBytes = m_plan.pieceBytes;
    const size_t pieceCount = length == 0 ? 1 : (length + pieceBytes - 1) / pieceBytes;
    const size_t wanted = std::min(m_plan.depth, pieceCount);
    const size_t depth = m_impl.Reserve(wanted, pieceBytes);
    if (depth == 0) {
        Log("Usb",
            "bulk transfer of %zu bytes on 0x%02X refused: the kernel's usbfs budget of %zu KiB "
            "(usbfs_memory_mb) is taken by the other transfers in flight",
            length, endpoint, m_impl.budgetBytes >> 10);
        return TransferResult::kError;
    }

    Batch batch;
    std::vector<Piece> pieces(depth);
    for (Piece& piece : pieces) {
        piece.batch = &batch;
        piece.transfer = libusb_alloc_transfer(0);
    }
    const auto release = [&] {
        for (Piece& piece : pieces)
            libusb_free_transfer(piece.transfer);
        m_impl.Give(depth * pieceBytes);
    };
    if (std::any_of(pieces.begin(), pieces.end(), [](const Piece& p) { return !p.transfer; })) {
        release();
        return TransferResult::kError;
    }

    // Pieces are reused in turn; `order` holds those in flight, oldest first (libusb completes
    // the transfers of one endpoint in order of submission).
    std::deque<Piece*> order;
    size_t next = 0;        // offset of the next piece to submit
    size_t contiguous = 0;  // bytes moved without a gap, from the start
    bool ended = false;     // no more pieces: a short piece, a failure or a cancel
    TransferResult result = TransferResult::kCompleted;
    size_t slot = 0;
    bool submittedAny = false;  // a zero-length transfer is one empty piece

    cancel.SetWaker([&] {
        std::lock_guard lock(batch.mutex);
        batch.cancelRequested = true;
        for (Piece* piece : order)
            if (piece->inFlight && !piece->done)
                libusb_cancel_transfer(piece->transfer);
        batch.changed.notify_all();
    });

    std::unique_lock lock(batch.mutex);
    const auto endWith = [&](TransferResult why) {
        if (!ended) {
            ended = true;
            result = why;
        }
        for (Piece* piece : order)
            if (piece->inFlight && !piece->done)
                libusb_cancel_transfer(piece->transfer);
    };
    for (;;) {
        if (batch.cancelRequested && !ended)
            endWith(TransferResult::kCancelled);
        while (!ended && order.size() < depth && (next < length || !submittedAny)) {
            Piece& piece = pieces[slot % depth];
            ++slot;
            piece.offset = next;
            piece.length = std::min(pieceBytes, length - next);
            piece.done = false;
            piece.actual = 0;
            libusb_fill_bulk_transfer(piece.transfer, m_handle, endpoint, data + piece.offset,
                                      static_cast<int>(piece.length), OnPieceDone, &piece,
                                      in ? 0 : LibusbProvider::kSendTimeoutMs);
            const int submitted = libusb_submit_transfer(piece.transfer);
            if (submitted != 0) {
                if (submitted == LIBUSB_ERROR_NO_MEM)
                    Log("Usb",
                        "the kernel refused a bulk transfer of %zu bytes on 0x%02X: its usbfs "
                        "budget (usbfs_memory_mb) is used up by this or other programs",
                        piece.length, endpoint);
                endWith(ResultOfError(submitted));
                break;
            }
            piece.inFlight = true;
            submittedAny = true;
            order.push_back(&piece);
            next += piece.length;
        }
        if (order.empty())
            break;
        Piece* head = order.front();
        batch.changed.wait(lock, [&] { return head->done || (batch.cancelRequested && !ended); });
        if (!head->done)
            continue;
        order.pop_front();
        head->inFlight = false;
        if (ended)
            continue;  // after a short piece or a failure the rest is only collected
        switch (head->status) {
            case LIBUSB_TRANSFER_COMPLETED:
                contiguous += head->actual;
                if (head->actual < head->length)
                    endWith(TransferResult::kCompleted);  // the device ended its data early
                break;
            case LIBUSB_TRANSFER_CANCELLED:
                contiguous += head->actual;
                endWith(TransferResult::kCancelled);
                break;
            case LIBUSB_TRANSFER_STALL:
                contiguous += head->actual;
                endWith(TransferResult::kStalled);
                break;
            case LIBUSB_TRANSFER_NO_DEVICE:
                m_connected = false;
                endWith(TransferResult::kDisconnected);
                break;
            case LIBUSB_TRANSFER_TIMED_OUT:
                contiguous += head->actual;
                Log("Usb", "bulk transfer on 0x%02X timed out after %u ms", endpoint,
                    LibusbProvider::kSendTimeoutMs);
                endWith(TransferResult::kError);
                break;
            default:
                endWith(TransferResult::kError);
                break;
        }
        if (!ended && next >= length && order.empty())
            break;
    }
    lock.unlock();
    cancel.ClearWaker();
    release();
    if (result == TransferResult::kCompleted && !m_connected)
        result = TransferResult::kDisconnected;
    *transferred = contiguous;
    return result;
}

namespace {

void LIBUSB_CALL OnPieceDone(libusb_transfer* transfer) {
    // Runs on the provider's event thread.
    auto* piece = static_cast<LibusbLink::Piece*>(transfer->user_data);
    std::lock_guard lock(piece->batch->mutex);
    piece->status = transfer->status;
    piece->actual = transfer->actual_length > 0 ? static_cast<size_t>(transfer->actual_length) : 0;
    piece->done = true;
    piece->batch->changed.notify_all();
}

}  // namespace

void LibusbProvider::Impl::DeviceLeft(libusb_device* device) {
    std::lock_guard lock(mutex);
    std::erase_if(links, [](const std::weak_ptr<LibusbLink>& link) { return link.expired(); });
    for (const auto& weak : links)
        if (const std::shared_ptr<LibusbLink> link = weak.lock(); link && link->Device() == device)
            link->MarkGone();
}

namespace {

int LIBUSB_CALL OnHotplug(libusb_context* /*context*/, libusb_device* device,
                          libusb_hotplug_event event, void* user) {
    auto& impl = *static_cast<LibusbProvider::Impl*>(user);
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0 || !impl.Accepts(descriptor))
        return 0;
    const bool arrived = event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED;
    if (!arrived)
        impl.DeviceLeft(device);
    LinkDescriptor link;
    link.vendorId = descriptor.idVendor;
    link.productId = descriptor.idProduct;
    link.instanceId = InstanceIdOf(device);
    link.interfaceClass = kCameraInterfaceGuid;
    Log("Usb", "%s %s", arrived ? "arrival of" : "removal of", FormatDevicePath(link).c_str());
    LibusbProvider::HotplugListener listener;
    {
        std::lock_guard lock(impl.mutex);
        listener = impl.listener;
    }
    if (listener)
        listener(arrived, link);
    return 0;
}

}  // namespace

LibusbProvider::LibusbProvider() : m_impl(std::make_unique<Impl>()) {}

std::shared_ptr<LibusbProvider> LibusbProvider::Instance() {
    static const std::shared_ptr<LibusbProvider> instance =
        []() -> std::shared_ptr<LibusbProvider> {
        std::shared_ptr<LibusbProvider> provider(new LibusbProvider());
        Impl& impl = *provider->m_impl;
        const int started = libusb_init(&impl.context);
        if (started != 0) {
            impl.context = nullptr;
            Log("Usb", "libusb does not start (%s): no USB cameras are listed",
                libusb_error_name(started));
            return nullptr;
        }
        impl.budgetBytes = UsbfsBudgetBytes();
        impl.plan =
            PlanBulkTransfers(Environment(kTransferKibVariable), Environment(kTransfersVariable),
                              impl.budgetBytes, &impl.planError);
        if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0) {
            libusb_hotplug_callback_handle handle = 0;
            const int flags = 0;  // cameras present at start are no arrivals
            if (libusb_hotplug_register_callback(
                    impl.context,
                    static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                      LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                    static_cast<libusb_hotplug_flag>(flags), LIBUSB_HOTPLUG_MATCH_ANY, kProductId,
                    LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug, &impl, &handle) == 0)
                provider->m_hotplugHandle = handle;
        }
        impl.eventThread = std::thread([&impl] {
            while (!impl.stopping.load()) {
                timeval wait{0, 200000};
                libusb_handle_events_timeout_completed(impl.context, &wait, nullptr);
            }
        });
        return provider;
    }();
    return instance;
}

LibusbProvider::~LibusbProvider() {
    if (m_impl->context == nullptr)
        return;
    m_impl->stopping = true;
    if (m_hotplugHandle != 0)
        libusb_hotplug_deregister_callback(m_impl->context, m_hotplugHandle);
    libusb_interrupt_event_handler(m_impl->context);
    if (m_impl->eventThread.joinable())
        m_impl->eventThread.join();
    libusb_exit(m_impl->context);
}

void LibusbProvider::SetHotplugListener(HotplugListener listener) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->listener = std::move(listener);
}

std::vector<LinkDescriptor> LibusbProvider::Enumerate() {
    std::vector<LinkDescriptor> present;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_impl->context, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || !m_impl->Accepts(descriptor))
            continue;
        LinkDescriptor device;
        device.vendorId = descriptor.idVendor;
        device.productId = descriptor.idProduct;
        device.instanceId = InstanceIdOf(list[i]);
        device.interfaceClass = kCameraInterfaceGuid;
        present.push_back(std::move(device));
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    std::sort(present.begin(), present.end(), [](const LinkDescriptor& a, const LinkDescriptor& b) {
        return a.instanceId < b.instanceId;
    });
    return present;
}

std::shared_ptr<UsbLink> LibusbProvider::Open(const std::string& instanceId) {
    Impl& impl = *m_impl;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(impl.context, &list);
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < count && device == nullptr; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) == 0 && impl.Accepts(descriptor) &&
            InstanceIdOf(list[i]) == instanceId)
            device = libusb_ref_device(list[i]);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    if (device == nullptr)
        return nullptr;

    const std::string node = NodeOf(device);
    char text[768];
    if (!impl.plan) {
        std::snprintf(text, sizeof text, "camera on port %s not opened: %s", instanceId.c_str(),
                      impl.planError.c_str());
        impl.Report("plan " + instanceId, text);
        libusb_unref_device(device);
        return nullptr;
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    libusb_unref_device(device);
    if (opened == LIBUSB_ERROR_ACCESS) {
        std::snprintf(text, sizeof text, "no permission to open %s (the camera on port %s): %s",
                      node.c_str(), instanceId.c_str(), kUdevRuleHint);
        impl.Report("access " + instanceId, text);
        return nullptr;
    }
    if (opened != 0) {
        Log("Usb", "%s (port %s) does not open: %s", node.c_str(), instanceId.c_str(),
            libusb_error_name(opened));
        return nullptr;
    }
    const int claimed = libusb_claim_interface(handle, kInterfaceNumber);
    if (claimed != 0) {
        if (claimed == LIBUSB_ERROR_BUSY) {
            std::snprintf(text, sizeof text,
                          "the camera on port %s (%s) is in use by another process: its "
                          "interface is claimed; close the other program first",
                          instanceId.c_str(), node.c_str());
            impl.Report("busy " + instanceId, text);
        } else {
            Log("Usb", "interface 0 of %s (port %s) is not claimed: %s", node.c_str(),
                instanceId.c_str(), libusb_error_name(claimed));
        }
        libusb_close(handle);
        return nullptr;
    }
    impl.Forget(instanceId);
    auto link = std::make_shared<LibusbLink>(Instance(), impl, handle, *impl.plan);
    std::lock_guard lock(impl.mutex);
    impl.links.push_back(link);
    return link;
}

}  // namespace quorix::platform::usb
