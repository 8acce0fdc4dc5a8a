#include "sim/emulated_camera.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <utility>

#include "platform/byte_order.h"
#include "platform/clock.h"
#include "platform/guid.h"
#include "sim/camera_registers.h"
#include "sim/command_memory.h"
#include "sim/eeprom.h"
#include "sim/emulator.h"
#include "sim/frame_generator.h"
#include "sim/frame_header.h"
#include "sim/imx252_sensor.h"
#include "sim/scene.h"

namespace quorix::sim {

using platform::usb::CancelToken;
using platform::usb::SetupPacket;
using platform::usb::TransferResult;
using platform::usb::UsbLink;

namespace {

// The controller answers at most this many bytes in a control reply (its endpoint 0 buffer).
constexpr size_t kControlReplyBytes = 64;
// Frame requests the controller remembers; further ones are ignored until it has caught up.
constexpr uint32_t kMaxPendingFrameRequests = 64;
// The largest frame the FPGA can send [bytes]: the host's biggest transfer.
constexpr uint64_t kMaxFrameBytes = 0x4000000;
// A blocked transfer re-reads the clock at least this often [real time], so a change of the
// platform clock's time scale takes effect while it waits.
constexpr auto kWaitSlice = std::chrono::milliseconds(20);
// The line length register counts 444 in the 323 pixel clocks of the host's 8-bit line period
// (and 888 in its 646 at 16 bits); pixel clocks = register x 323 / 444.
constexpr double kLineClocksNumerator = 323.0;
constexpr double kLineClocksDenominator = 444.0;
constexpr double kPixelClocksPerMs = kPixelClockHz / 1000.0;
// Frame periods are kept within these bounds [ms] whatever the registers hold.
constexpr double kMinFramePeriodMs = 0.05;
constexpr double kMaxFramePeriodMs = 600000.0;

constexpr uint8_t kRequestTypeDirectionIn = 0x80;
constexpr uint8_t kRequestTypeMask = 0x60;
constexpr uint8_t kRequestTypeVendor = 0x40;

constexpr uint8_t kCommandMagicRead[4] = {'Q', 'U', '3', 'R'};
constexpr uint8_t kCommandMagicWrite[4] = {'Q', 'U', '3', 'W'};
constexpr size_t kCommandBlockBytes = 32;
constexpr uint32_t kCommandVersion = 2;

// Layout of the device info block (reply of 0xB0).
#pragma pack(push, 1)
struct DeviceInfoBlock {
    char modelName[16];        // 0
    uint16_t vendorId;         // 16
    uint16_t productId;        // 18
    uint16_t fpgaVersion;      // 20
    uint16_t reserved22;       // 22
    uint16_t firmwareVersion;  // 24
    uint16_t reserved26;       // 26
    char serialNumber[24];     // 28
    uint8_t gpio25Flag;        // 52
    uint8_t reserved53[11];    // 53
};
// The second info block (reply of 0xB1).
struct DeviceInfoBlock2 {
    uint32_t deviceSpeed;      // 0
    uint16_t fpgaVersion;      // 4
    uint16_t firmwareVersion;  // 6
    uint8_t reserved[56];      // 8
};
#pragma pack(pop)
static_assert(sizeof(DeviceInfoBlock) == 64);
static_assert(offsetof(DeviceInfoBlock, firmwareVersion) == 24);
static_assert(offsetof(DeviceInfoBlock, gpio25Flag) == 52);
static_assert(sizeof(DeviceInfoBlock2) == 64);

constexpr char kModelName[] = "QUORIX-252";

double NowMs() {
    return static_cast<double>(platform::MonotonicMs());
}

// Number of positions a read-out visits along one axis (see FrameGenerator::ScanPositions).
int ScanCount(int size, bool subSampled, int phase) {
    if (size <= 0)
        return 0;
    if (!subSampled)
        return size;
    int count = 0;
    for (int base = 0; base + phase < size; base += 4)
        count += std::min(2, size - base - phase);
    return count;
}

// One piece of data waiting on endpoint 0x81. A bulk-in transfer never spans two units, which
// is how the host tells a frame header from the frame data that follows it.
struct InUnit {
    enum class Kind { kBytes, kMemory, kStalled };
    Kind kind = Kind::kBytes;
    std::vector<uint8_t> bytes;  // kBytes
    uint64_t address = 0;        // kMemory: where the read starts
    size_t length = 0;           // kMemory
    size_t consumed = 0;
    bool frameData = false;

    size_t Size() const { return kind == Kind::kBytes ? bytes.size() : length; }
};

}  // namespace

const char* ReadoutFaultName(ReadoutFault fault) {
    switch (fault) {
        case ReadoutFault::kNone:
            return "none";
        case ReadoutFault::kReadoutMode:
            return "read-out mode does not match the sensor's sub-sampling";
        case ReadoutFault::kOffset:
            return "horizontal offset does not match the sensor's window";
        case ReadoutFault::kFrameLength:
            return "frame length shorter than the lines sent plus blanking";
        case ReadoutFault::kShutterLine:
            return "shutter line out of range";
        case ReadoutFault::kLineLength:
            return "line length too short for the data width";
    }
    return "unknown";
}

// All of one camera's state, shared by the camera object and the plug links it hands out. Every
// member is guarded by `mutex` except the log and the faults, which have locks of their own
// (taken after `mutex` when both are needed). Members are grouped by the part of the camera they
// belong to rather than packed.
struct EmulatedCamera::State {  // NOLINT(clang-analyzer-optin.performance.Padding)
    State(const CameraConfig& cfg, std::string id)
        : config(cfg),
          log(cfg.logCapacity),
          instanceId(std::move(id)),
          eeprom(cfg.serialNumber, cfg.userId),
          framesPerSecond(cfg.framesPerSecond),
          asFastAsPossible(cfg.asFastAsPossible),
          imperfections(cfg.imperfections) {
        const double now = NowMs();
        createdMs = now;
        plugTimeMs = now;
        frameClockMs = now;
        // Power-up FPGA: every register 0, so no frame geometry and no read-out mode until the
        // host programs them.
        fpga.fill(0);
        aux.fill(0);
    }

    const CameraConfig config;
    CameraLog log;
    CameraFaults faults;

    mutable std::mutex mutex;
    std::condition_variable changed;  // stream, plug, trigger or cancellation news

    // Plugging.
    bool connected = true;
    uint64_t generation = 1;
    std::string instanceId;
    double createdMs = 0;
    double plugTimeMs = 0;

    // USB controller.
    uint8_t storedByte = 0;                    // 0x3C / 0x3D
    std::map<uint16_t, uint16_t> words;        // 0x3E / 0x3F
    std::map<uint16_t, uint32_t> registers32;  // 0xD0 / 0xD1

    // Sensor-bus devices.
    std::array<uint8_t, 256> fpga{};
    uint8_t fpgaPointer = 0;
    // The sensor bridge's last transfer has not been seen to end: it ends while the host reads
    // the FPGA's status, which reports it busy that once.
    bool bridgeBusy = false;
    bool fpgaReloading = false;
    double fpgaReloadDoneMs = 0;
    Imx252Sensor sensor;
    uint16_t sensorPointer = 0;
    std::array<uint8_t, 256> aux{};
    uint8_t auxPointer = 0;
    Eeprom eeprom;
    CommandMemory memory;

    // Endpoint 0x81 and the frame requests waiting for it.
    std::deque<InUnit> in;
    uint32_t pendingRequests = 0;
    bool producing = false;
    // Keeps the picture of the current settings between frames; used only by the one thread
    // that is producing (see `producing`), without the lock.
    FrameRenderer renderer;
    uint64_t streamEpoch = 0;  // advanced by every reset that discards the stream

    // Endpoint 0x01 command parser.
    bool commandWriting = false;
    uint64_t writeAddress = 0;
    uint64_t writeRemaining = 0;

    // Sensor timing.
    double frameClockMs = 0;  // when the newest sensor frame completed
    uint32_t framesProduced = 0;
    uint32_t lastSentFrame = 0;
    double framesPerSecond;
    bool asFastAsPossible;
    Imperfections imperfections;

    CameraCounters counters;

    // --- helpers, all with `mutex` held ---

    bool Alive(uint64_t gen) const { return connected && gen == generation; }

    bool Ready(double now) const {
        if (faults.NeverReady() || config.readyDelayMs < 0)
            return false;
        return now >= plugTimeMs + config.readyDelayMs;
    }

    bool FpgaConfigured(double now) const { return !fpgaReloading && now >= fpgaReloadDoneMs; }

    uint32_t Fpga16(uint8_t low, uint8_t high) const {
        return fpga[low] | (static_cast<uint32_t>(fpga[high]) << 8);
    }

    bool TriggerArmed(const SensorSettings& s) const {
        return s.triggerMode && fpga[reg::kFpgaTriggerControl] != 0;
    }

    ReadoutSettings Decode() const {
        ReadoutSettings r;
        r.frameWidth = static_cast<int>(Fpga16(reg::kFpgaWidthLow, reg::kFpgaWidthHigh));
        r.frameHeight = static_cast<int>(Fpga16(reg::kFpgaHeightLow, reg::kFpgaHeightHigh));
        r.bytesPerPixel = fpga[reg::kFpgaDataWidth] == 2 ? 2 : 1;
        r.readoutMode = static_cast<int>(Fpga16(reg::kFpgaReadoutLow, reg::kFpgaReadoutHigh));
        r.horizontalOffset = static_cast<int>(Fpga16(reg::kFpgaOffsetLow, reg::kFpgaOffsetHigh));
        const uint64_t bytes = static_cast<uint64_t>(r.frameWidth) *
                               static_cast<uint64_t>(r.frameHeight) *
                               static_cast<uint64_t>(r.bytesPerPixel);
        r.frameBytes =
            static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));

        const SensorSettings s = sensor.Settings();
        r.windowX = s.windowX;
        r.windowY = s.windowY;
        r.windowWidth = s.windowWidth;
        r.windowHeight = s.windowHeight;
        r.subSampleH = s.subSampleH;
        r.subSampleV = s.subSampleV;
        r.sensorLineWidth = ScanCount(s.windowWidth, s.subSampleH, 0);
        r.sensorLines = ScanCount(s.windowHeight, s.subSampleV, 1);
        r.mirrorV = s.mirrorV;
        r.mirrorH = s.mirrorH;
        r.triggerMode = s.triggerMode;
        r.gain = s.gain;
        r.blackLevel = s.blackLevel;
        r.frameLines = s.frameLines;
        r.lineLength = s.lineLength;
        r.shutterLine = s.shutterLine;

        const double lineClocks = s.lineLength * kLineClocksNumerator / kLineClocksDenominator;
        double clocksPerLine = lineClocks;
        if (s.triggerMode) {
            // The FPGA times a triggered exposure itself, in lines of its own length.
            r.exposureLines = fpga[reg::kFpgaTriggerExposure0] |
                              (static_cast<uint32_t>(fpga[reg::kFpgaTriggerExposure1]) << 8) |
                              (static_cast<uint32_t>(fpga[reg::kFpgaTriggerExposure2]) << 16);
            const uint32_t triggerLine =
                Fpga16(reg::kFpgaTriggerLineLow, reg::kFpgaTriggerLineHigh);
            if (triggerLine != 0)
                clocksPerLine = triggerLine;
        } else {
            // The exposure runs from the shutter line to the end of the frame.
            r.exposureLines = s.frameLines > s.shutterLine ? s.frameLines - s.shutterLine : 1;
        }
        r.exposureClocks = r.exposureLines * clocksPerLine;
        // The gain register counts 0.1 dB steps; the scene is nominal at 64.
        const double gainFactor = std::pow(10.0, (static_cast<double>(s.gain) - 64.0) / 200.0);
        r.brightness = r.exposureClocks / kNominalExposureClocks * gainFactor;

        double period;
        const uint32_t triggerPeriod =
            Fpga16(reg::kFpgaTriggerPeriodLow, reg::kFpgaTriggerPeriodHigh);
        const uint32_t triggerLine = Fpga16(reg::kFpgaTriggerLineLow, reg::kFpgaTriggerLineHigh);
        if (framesPerSecond > 0)
            period = 1000.0 / framesPerSecond;
        else if (s.triggerMode && triggerPeriod != 0 && triggerLine != 0)
            period = triggerPeriod * static_cast<double>(triggerLine) / kPixelClocksPerMs;
        else
            period = s.frameLines * lineClocks / kPixelClocksPerMs;
        r.framePeriodMs = std::clamp(period, kMinFramePeriodMs, kMaxFramePeriodMs);
        r.fault = FaultOf(r);
        return r;
    }

    // Whether the FPGA's read-out fits the sensor's window and the sensor's timing is one it can
    // run. A sub-sampling sensor sends whole lines and the FPGA may skip any part of them; at full
    // resolution the offset register says where the sensor's window sits in a whole line.
    static ReadoutFault FaultOf(const ReadoutSettings& r) {
        const bool subSampled = r.subSampleH || r.subSampleV;
        if (r.readoutMode != (subSampled ? reg::kReadoutSubSampled : reg::kReadoutFull))
            return ReadoutFault::kReadoutMode;
        if (!subSampled && r.horizontalOffset != kSensorWidth - r.windowX - r.windowWidth)
            return ReadoutFault::kOffset;
        if (r.frameLines < static_cast<uint32_t>(r.sensorLines) + reg::kMinBlankingLines)
            return ReadoutFault::kFrameLength;
        if (r.shutterLine < reg::kMinShutterLine || r.shutterLine >= r.frameLines)
            return ReadoutFault::kShutterLine;
        const uint32_t minLine = subSampled            ? reg::kMinLineLengthSubSampled
                                 : r.bytesPerPixel == 2 ? reg::kMinLineLength16
                                                        : reg::kMinLineLength8;
        if (r.lineLength < minLine)
            return ReadoutFault::kLineLength;
        return ReadoutFault::kNone;
    }



    // Lets the free-running sensor (or the automatic trigger) produce the frames due by `now`.
    void AdvanceSensor(double now) {
        if (asFastAsPossible)
            return;  // frames are made on request
        if (!Ready(now)) {
            frameClockMs = now;
            return;
        }
        const ReadoutSettings r = Decode();
        if (r.triggerMode && !(TriggerArmed(sensor.Settings()) && config.autoTrigger)) {
            // Waiting for trigger pulses: time alone produces nothing.
            frameClockMs = now;
            return;
        }
        const double elapsed = now - frameClockMs;
        if (elapsed < r.framePeriodMs)
            return;
        const double periods = std::floor(elapsed / r.framePeriodMs);
        framesProduced += static_cast<uint32_t>(std::fmod(periods, 4294967296.0));
        frameClockMs += periods * r.framePeriodMs;
        if (r.triggerMode)
            counters.triggers += static_cast<uint64_t>(periods);
    }

    // How long until a frame can be sent [ms of SDK time]: 0 now, negative: not foreseeable
    // (waiting for readiness that never comes, or for a trigger pulse).
    double TimeUntilFrame(double now) {
        if (!Ready(now)) {
            if (faults.NeverReady() || config.readyDelayMs < 0)
                return -1;
            return plugTimeMs + config.readyDelayMs - now;
        }
        if (asFastAsPossible)
            return 0;
        AdvanceSensor(now);
        if (framesProduced != lastSentFrame)
            return 0;
        const ReadoutSettings r = Decode();
        if (r.triggerMode && !(TriggerArmed(sensor.Settings()) && config.autoTrigger))
            return -1;
        return std::max(frameClockMs + r.framePeriodMs - now, 0.01);
    }

    // The number of the frame to send now (after TimeUntilFrame said 0).
    uint32_t TakeFrame() {
        if (asFastAsPossible)
            ++framesProduced;
        lastSentFrame = framesProduced;
        return framesProduced;
    }

    void FlushStream() {
        in.clear();
        pendingRequests = 0;
        ++streamEpoch;
        changed.notify_all();
    }

    // --- FPGA ---

    uint8_t FpgaRead(uint8_t r, double now) {
        switch (r) {
            case reg::kFpgaStatus: {
                uint8_t status = 0;
                if (faults.BusBusyStuck())
                    status |= reg::kStatusBusBusy;
                if (bridgeBusy) {
                    // The bridge's transfer ends while the status is read.
                    status |= reg::kStatusBusBusy;
                    bridgeBusy = false;
                }
                if (!Ready(now))
                    status |= reg::kStatusStarting;
                return status;
            }
            case reg::kFpgaFrameCounter:
                // The counter follows the sensor: polling it is how the host sees triggers.
                AdvanceSensor(now);
                return static_cast<uint8_t>(framesProduced);
            case reg::kFpgaVersion0:
                return static_cast<uint8_t>(config.fpgaVersion);
            case reg::kFpgaVersion1:
                return static_cast<uint8_t>(config.fpgaVersion >> 8);
            case reg::kFpgaVersion2:
            case reg::kFpgaVersion3:
                return 0;
            case reg::kFpgaReconfigure:
                return static_cast<uint8_t>((fpga[r] & reg::kReconfigureStart) |
                                            (FpgaConfigured(now) ? reg::kReconfigureDone : 0));
            default:
                return fpga[r];
        }
    }

    void FpgaWrite(uint8_t r, uint8_t value, double now) {
        log.AddRegisterWrite(RegisterSpace::kFpga, r, value);
        const uint8_t old = fpga[r];
        switch (r) {
            case reg::kFpgaStatus:
            case reg::kFpgaFrameCounter:
            case reg::kFpgaVersion0:
            case reg::kFpgaVersion1:
            case reg::kFpgaVersion2:
            case reg::kFpgaVersion3:
                return;  // read-only
            case reg::kFpgaTransferReset:
                if ((value & 1) != 0 && (old & 1) == 0)
                    FlushStream();  // the transfer logic drops what it holds
                if ((value & 1) == 0 && (old & 1) != 0)
                    ++counters.transferResets;
                break;
            case reg::kFpgaReconfigure:
                if ((value & reg::kReconfigureStart) != 0 && (old & reg::kReconfigureStart) == 0)
                    fpgaReloading = true;
                if ((value & reg::kReconfigureStart) == 0 && (old & reg::kReconfigureStart) != 0) {
                    fpgaReloading = false;
                    fpgaReloadDoneMs = now + kFpgaReloadMs;
                    ++counters.fpgaReconfigurations;
                }
                break;
            case reg::kFpgaBridgeReset:
                if ((value & reg::kBridgeResetBit) != 0 && (old & reg::kBridgeResetBit) == 0)
                    ++counters.bridgeResets;
                break;
            default:
                break;
        }
        if (r == reg::kFpgaTriggerControl && value != 0 && old == 0)
            frameClockMs = now;  // trigger handling starts now: the first pulse is a period away
        fpga[r] = value;
        changed.notify_all();  // geometry or trigger changes may release a waiting frame
    }

    bool BridgeUsable(double now) const {
        return Ready(now) && (fpga[reg::kFpgaBridgeReset] & reg::kBridgeResetBit) == 0;
    }

    // --- sensor bus ---

    bool BusWrite(uint8_t address, const uint8_t* bytes, size_t n, double now) {
        switch (address) {
            case reg::kBusFpga: {
                // {reg} sets the read pointer; {reg, high, low}... writes 16-bit values of which
                // the FPGA keeps the low byte, to consecutive registers.
                if (n == 1) {
                    fpgaPointer = bytes[0];
                    return true;
                }
                if (n < 3 || n % 2 == 0)
                    return false;
                for (size_t i = 0; 2 + 2 * i < n; ++i)
                    FpgaWrite(static_cast<uint8_t>(bytes[0] + i), bytes[2 + 2 * i], now);
                return true;
            }
            case reg::kBusSensorBridge: {
                if (!BridgeUsable(now) || n < 2)
                    return false;
                if (bridgeBusy) {
                    ++counters.bridgeBusyRefusals;
                    return false;
                }
                // Setting the register pointer is the first half of a read and keeps the bridge
                // free for the read that follows.
                if (n > 2)
                    bridgeBusy = true;
                sensorPointer = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
                for (size_t i = 2; i < n; ++i) {
                    sensor.Write(sensorPointer, bytes[i]);
                    log.AddRegisterWrite(RegisterSpace::kSensor, sensorPointer, bytes[i]);
                    ++sensorPointer;
                }
                if (n > 2)
                    changed.notify_all();
                return true;
            }
            case reg::kBusAux: {
                if (n < 1)
                    return false;
                auxPointer = bytes[0];
                for (size_t i = 1; i < n; ++i) {
                    aux[auxPointer] = bytes[i];
                    log.AddRegisterWrite(RegisterSpace::kAux, auxPointer, bytes[i]);
                    ++auxPointer;
                }
                return true;
            }
            case reg::kBusEeprom: {
                if (n < 2)
                    return false;
                const auto at = static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
                if (n == 2) {
                    eeprom.SetPointer(at);
                    return true;
                }
                const EepromWriteFault fault = faults.EepromWrites();
                if (fault == EepromWriteFault::kStall)
                    return false;
                uint16_t cell = at;
                for (size_t i = 2; i < n; ++i, ++cell) {
                    ++counters.eepromWrites;
                    if (fault == EepromWriteFault::kNotStored)
                        continue;
                    eeprom.SetByte(cell, bytes[i]);
                    log.AddRegisterWrite(RegisterSpace::kEeprom, cell, bytes[i]);
                }
                eeprom.SetPointer(cell);
                return true;
            }
            default:
                return false;  // the readiness device takes no writes; no other device answers
        }
    }

    bool BusRead(uint8_t device, uint8_t* out, size_t n, double now) {
        switch (device) {
            case reg::kBusFpga:
                // Each register answers as a 16-bit value, high byte (always 0) first.
                for (size_t j = 0; j < n; ++j) {
                    const auto r = static_cast<uint8_t>(fpgaPointer + j / 2);
                    out[j] = (j % 2 == 0) ? 0 : FpgaRead(r, now);
                }
                fpgaPointer = static_cast<uint8_t>(fpgaPointer + n / 2);
                return true;
            case reg::kBusSensorBridge:
                if (!BridgeUsable(now))
                    return false;
                if (bridgeBusy) {
                    ++counters.bridgeBusyRefusals;
                    return false;
                }
                bridgeBusy = true;
                for (size_t j = 0; j < n; ++j)
                    out[j] = sensor.Read(sensorPointer++);
                return true;
            case reg::kBusAux:
                for (size_t j = 0; j < n; ++j)
                    out[j] = aux[auxPointer++];
                return true;
            case reg::kBusReadiness:
                for (size_t j = 0; j < n; ++j)
                    out[j] = 0;
                if (n > 0)
                    out[0] = Ready(now) ? 0 : 1;
                return true;
            case reg::kBusEeprom:
                eeprom.ReadSequential(out, n);
                return true;
            default:
                return false;
        }
    }

    // --- endpoint 0 ---

    TransferResult Vendor(const SetupPacket& setup, uint8_t* data, size_t* replyLength,
                          double now) {
        const bool in = (setup.requestType & kRequestTypeDirectionIn) != 0;
        if ((setup.requestType & kRequestTypeMask) != kRequestTypeVendor)
            return TransferResult::kStalled;
        if (faults.TakeStalledVendorRequest(setup.request))
            return TransferResult::kStalled;
        std::array<uint8_t, kControlReplyBytes> reply{};
        size_t replyBytes = 0;
        const size_t fullReply = std::min<size_t>(kControlReplyBytes, setup.length);
        const auto wantIn = [&](bool isIn) { return in == isIn; };

        switch (setup.request) {
            case reg::kRequestBusWrite: {
                if (!wantIn(false) || setup.value > reg::kMaxBusBytes ||
                    setup.value > setup.length || setup.index > 0xFF)
                    return TransferResult::kStalled;
                const auto address = static_cast<uint8_t>(setup.index);
                ++counters.busTransfers;
                bool ok = (address & 1) == 0 && !faults.TakeRefusedBusTransfer(address);
                if (ok)
                    ok = BusWrite(address, data, setup.value, now);
                log.AddBusTransfer(address, false, data, setup.value, ok);
                if (!ok) {
                    ++counters.busRefusals;
                    return TransferResult::kStalled;
                }
                return TransferResult::kCompleted;
            }
            case reg::kRequestBusRead: {
                if (!wantIn(true) || setup.value > reg::kMaxBusBytes ||
                    setup.value > setup.length || setup.index > 0xFF)
                    return TransferResult::kStalled;
                const auto address = static_cast<uint8_t>(setup.index);
                ++counters.busTransfers;
                // The host names the device in its read form; the bare address is taken too.
                bool ok = !faults.TakeRefusedBusTransfer(address);
                if (ok)
                    ok = BusRead(static_cast<uint8_t>(address & 0xFE), reply.data(), setup.value,
                                 now);
                log.AddBusTransfer(address, true, reply.data(), ok ? setup.value : 0, ok);
                if (!ok) {
                    ++counters.busRefusals;
                    return TransferResult::kStalled;
                }
                replyBytes = setup.value;
                break;
            }
            case reg::kRequestWriteByte:
                if (!wantIn(false) || setup.length < 1)
                    return TransferResult::kStalled;
                storedByte = data[0];
                return TransferResult::kCompleted;
            case reg::kRequestReadByte:
                if (!wantIn(true))
                    return TransferResult::kStalled;
                reply[0] = storedByte;
                replyBytes = fullReply;
                break;
            case reg::kRequestWriteWordPair:
                if (!wantIn(false) || setup.length < 4)
                    return TransferResult::kStalled;
                words[static_cast<uint16_t>((data[0] << 8) | data[1])] =
                    static_cast<uint16_t>((data[2] << 8) | data[3]);
                return TransferResult::kCompleted;
            case reg::kRequestReadWord: {
                if (!wantIn(true))
                    return TransferResult::kStalled;
                const auto it = words.find(setup.value);
                WriteLe16(reply.data(), it == words.end() ? 0 : it->second);
                replyBytes = fullReply;
                break;
            }
            case reg::kRequestDeviceInfo:
                if (!wantIn(true))
                    return TransferResult::kStalled;
                FillDeviceInfo(reply.data());
                replyBytes = fullReply;
                break;
            case reg::kRequestDeviceInfo2:
                if (!wantIn(true))
                    return TransferResult::kStalled;
                WriteLe32(reply.data() + offsetof(DeviceInfoBlock2, deviceSpeed),
                          config.deviceSpeed);
                WriteLe16(reply.data() + offsetof(DeviceInfoBlock2, fpgaVersion),
                          config.fpgaVersion);
                WriteLe16(reply.data() + offsetof(DeviceInfoBlock2, firmwareVersion),
                          config.firmwareVersion);
                replyBytes = fullReply;
                break;
            case reg::kRequestResetStream:
                if (!wantIn(false))
                    return TransferResult::kStalled;
                ++counters.streamResets;
                FlushStream();
                return TransferResult::kCompleted;
            case reg::kRequestFrame:
                if (!wantIn(false))
                    return TransferResult::kStalled;
                ++counters.frameRequests;
                if (Decode().fault != ReadoutFault::kNone) {
                    // Registers the sensor cannot stream with: the request is refused.
                    ++counters.readoutRefusals;
                    return TransferResult::kStalled;
                }
                if (pendingRequests < kMaxPendingFrameRequests)
                    ++pendingRequests;
                changed.notify_all();
                return TransferResult::kCompleted;
            case reg::kRequestReadiness:
                if (!wantIn(true))
                    return TransferResult::kStalled;
                reply[0] = Ready(now) ? 1 : 0;
                replyBytes = fullReply;
                break;
            case reg::kRequestCC:
                if (!wantIn(false))
                    return TransferResult::kStalled;
                return TransferResult::kCompleted;
            case reg::kRequestWriteRegister32: {
                if (!wantIn(false) || setup.length < 4)
                    return TransferResult::kStalled;
                // Bit 15 of the address travels in the value field.
                const auto address =
                    static_cast<uint16_t>(((setup.value & 1) << 15) | (setup.index & 0x7FFF));
                registers32[address] = ReadLe32(data);
                return TransferResult::kCompleted;
            }
            case reg::kRequestReadRegister32: {
                if (!wantIn(true))
                    return TransferResult::kStalled;
                const auto it = registers32.find(setup.index);
                WriteLe32(reply.data(), it == registers32.end() ? 0 : it->second);
                replyBytes = fullReply;
                break;
            }
            default:
                return TransferResult::kStalled;
        }
        // Device-to-host: never more than the data stage has room for.
        replyBytes = std::min<size_t>(replyBytes, setup.length);
        if (replyBytes > 0)
            std::memcpy(data, reply.data(), replyBytes);
        *replyLength = replyBytes;
        return TransferResult::kCompleted;
    }

    void FillDeviceInfo(uint8_t* block) const {
        // NUL-padded text fields: the block arrives zeroed.
        std::copy_n(kModelName, sizeof(kModelName) - 1,
                    block + offsetof(DeviceInfoBlock, modelName));
        WriteLe16(block + offsetof(DeviceInfoBlock, vendorId), config.vendorId);
        WriteLe16(block + offsetof(DeviceInfoBlock, productId), config.productId);
        WriteLe16(block + offsetof(DeviceInfoBlock, fpgaVersion), config.fpgaVersion);
        WriteLe16(block + offsetof(DeviceInfoBlock, firmwareVersion), config.firmwareVersion);
        const size_t serialLength =
            std::min(config.serialNumber.size(), sizeof(DeviceInfoBlock::serialNumber) - 1);
        std::copy_n(config.serialNumber.data(), serialLength,
                    block + offsetof(DeviceInfoBlock, serialNumber));
        block[offsetof(DeviceInfoBlock, gpio25Flag)] = config.gpio25Flag;
    }

    TransferResult Control(uint64_t gen, const SetupPacket& setup, uint8_t* data,
                           size_t* transferred) {
        if (transferred != nullptr)
            *transferred = 0;
        if (setup.length > 0 && data == nullptr)
            return TransferResult::kError;
        std::lock_guard lock(mutex);
        if (!Alive(gen))
            return TransferResult::kDisconnected;
        ++counters.vendorRequests;
        const bool in = (setup.requestType & kRequestTypeDirectionIn) != 0;
        size_t replyLength = 0;
        const TransferResult result = Vendor(setup, data, &replyLength, NowMs());
        const size_t moved = result != TransferResult::kCompleted ? 0
                             : in                                 ? replyLength
                                                                  : setup.length;
        log.AddVendorRequest(setup, data, in ? replyLength : setup.length, result);
        if (transferred != nullptr)
            *transferred = moved;
        return result;
    }

    // --- bulk endpoints ---

    // Waits for news, at most until `deadline` and at most one wait slice.
    void WaitForNews(std::unique_lock<std::mutex>& lock, double delayMs) {
        auto limit = std::chrono::steady_clock::now() + kWaitSlice;
        if (delayMs >= 0) {
            const auto due = platform::RealDeadline(static_cast<uint32_t>(std::ceil(delayMs)));
            limit = std::min(limit, due);
        }
        changed.wait_until(lock, limit);
    }

    static bool FrameFits(const ReadoutSettings& readout) {
        if (readout.fault != ReadoutFault::kNone)
            return false;
        const uint64_t frameBytes = static_cast<uint64_t>(readout.frameWidth) *
                                    static_cast<uint64_t>(readout.frameHeight) *
                                    static_cast<uint64_t>(readout.bytesPerPixel);
        return frameBytes != 0 && frameBytes <= kMaxFrameBytes;
    }

    FrameRecipe Recipe(const ReadoutSettings& readout, uint32_t frameNumber) const {
        FrameRecipe recipe;
        recipe.readout = readout;
        recipe.frameNumber = frameNumber;
        recipe.blackShift = sensor.Settings().blackLevel - reg::kNominalBlackLevel;
        recipe.imperfections = imperfections;
        return recipe;
    }

    // The picture of new settings is rendered in full (without the lock) before a frame is
    // taken, so the frame sent is the one due once the picture exists. The sensor reads out while
    // time goes on; taking the frame first would send an old one late and make the host miss the
    // next. True when it rendered.
    bool WarmRenderer(std::unique_lock<std::mutex>& lock) {
        const ReadoutSettings readout = Decode();
        if (!FrameFits(readout))
            return false;
        const FrameRecipe recipe = Recipe(readout, lastSentFrame + 1);
        producing = true;
        lock.unlock();
        const bool rendered = renderer.Warm(recipe);
        lock.lock();
        producing = false;
        changed.notify_all();
        return rendered;
    }

    // Builds the next frame's header and data from a snapshot of the registers, rendering the
    // pixels without the lock so that control requests are not held up meanwhile.
    void ProduceFrame(std::unique_lock<std::mutex>& lock, double now) {
        const ReadoutSettings readout = Decode();
        if (!FrameFits(readout)) {
            // No frame fits this geometry: the FPGA ignores the request.
            --pendingRequests;
            ++counters.headersDropped;
            return;
        }
        const FrameRecipe recipe = Recipe(readout, TakeFrame());

        std::vector<uint8_t> header(kFrameHeaderBytes, 0);
        FillHeader(header.data(), recipe, now);

        const uint64_t epoch = streamEpoch;
        producing = true;
        lock.unlock();
        std::vector<uint8_t> pixels = renderer.Render(recipe);
        lock.lock();
        producing = false;
        changed.notify_all();
        if (epoch != streamEpoch || pendingRequests == 0)
            return;  // the stream was reset meanwhile: the frame is discarded
        --pendingRequests;

        InUnit headerUnit;
        headerUnit.bytes = std::move(header);
        in.push_back(std::move(headerUnit));
        ++counters.headersSent;

        InUnit data;
        data.frameData = true;
        if (faults.TakeStalledData()) {
            data.kind = InUnit::Kind::kStalled;
            ++counters.dataStalls;
        } else {
            if (const auto missing = faults.TakeShortenedData()) {
                pixels.resize(pixels.size() - std::min<size_t>(*missing, pixels.size()));
                ++counters.shortFrames;
            }
            data.bytes = std::move(pixels);
        }
        in.push_back(std::move(data));
    }

    void FillHeader(uint8_t* h, const FrameRecipe& recipe, double now) const {
        const ReadoutSettings& r = recipe.readout;
        constexpr uint8_t kMagic[4] = {'Q', 'X', 'F', 'H'};
        std::copy_n(kMagic, sizeof kMagic, h + offsetof(FrameHeader, magic));
        WriteLe16(h + offsetof(FrameHeader, headerSize), kFrameHeaderBytes);
        WriteLe16(h + offsetof(FrameHeader, version), 1);
        WriteLe16(h + offsetof(FrameHeader, width), static_cast<uint16_t>(r.frameWidth));
        WriteLe16(h + offsetof(FrameHeader, height), static_cast<uint16_t>(r.frameHeight));
        h[offsetof(FrameHeader, bytesPerPixel)] = static_cast<uint8_t>(r.bytesPerPixel);
        h[offsetof(FrameHeader, readoutMode)] = static_cast<uint8_t>(r.readoutMode);
        uint16_t flags = 0;
        if (r.triggerMode)
            flags |= kHeaderFlagTriggered;
        if (r.mirrorV)
            flags |= kHeaderFlagMirrorV;
        if (r.mirrorH)
            flags |= kHeaderFlagMirrorH;
        if (r.subSampleH || r.subSampleV)
            flags |= kHeaderFlagSubSampled;
        WriteLe16(h + offsetof(FrameHeader, flags), flags);
        WriteLe32(h + offsetof(FrameHeader, byteCount), r.frameBytes);
        WriteLe32(h + offsetof(FrameHeader, exposureLines), r.exposureLines);
        WriteLe32(h + offsetof(FrameHeader, gain), r.gain);
        WriteLe32(h + offsetof(FrameHeader, timestampMs), static_cast<uint32_t>(now - createdMs));
        WriteLe32(h + offsetof(FrameHeader, frameNumber), recipe.frameNumber);
        WriteLe32(h + offsetof(FrameHeader, fpgaCounter), framesProduced & 0xFF);
        WriteLe32(h + offsetof(FrameHeader, exposureClocks),
                  static_cast<uint32_t>(std::min(std::llround(r.exposureClocks),
                                                 static_cast<long long>(UINT32_MAX))));
        WriteLe32(h + offsetof(FrameHeader, frameLines), r.frameLines);
    }

    // Copies from the front unit of endpoint 0x81 into the host's buffer.
    size_t TakeFromFront(uint8_t* out, size_t length) {
        InUnit& unit = in.front();
        const size_t n = std::min(length, unit.Size() - unit.consumed);
        if (unit.kind == InUnit::Kind::kBytes) {
            if (n > 0)
                std::memcpy(out, unit.bytes.data() + unit.consumed, n);
        } else {
            memory.Read(unit.address + unit.consumed, out, n);
            counters.commandBytesIn += n;
        }
        unit.consumed += n;
        if (unit.consumed == unit.Size()) {
            if (unit.frameData)
                ++counters.framesSent;
            in.pop_front();
        }
        return n;
    }

    TransferResult ReceiveStream(uint64_t gen, uint8_t* data, size_t length, size_t* transferred,
                                 CancelToken& cancel) {
        std::unique_lock lock(mutex);
        // One picture rendered ahead per transfer: settings that keep changing must not keep
        // the frame from being sent.
        bool warmed = false;
        for (;;) {
            if (!Alive(gen)) {
                ++counters.disconnectedTransfers;
                return TransferResult::kDisconnected;
            }
            if (cancel.IsCancelled()) {
                ++counters.cancelledTransfers;
                return TransferResult::kCancelled;
            }
            if (!in.empty() && in.front().kind != InUnit::Kind::kStalled) {
                *transferred = TakeFromFront(data, length);
                return TransferResult::kCompleted;
            }
            const double now = NowMs();
            const bool transferHeld = (fpga[reg::kFpgaTransferReset] & 1) != 0;
            if (in.empty() && pendingRequests > 0 && !producing && !transferHeld) {
                if (faults.TakeDroppedHeader()) {
                    --pendingRequests;
                    ++counters.headersDropped;
                    continue;
                }
                const double wait = TimeUntilFrame(now);
                if (wait == 0) {
                    if (warmed || !WarmRenderer(lock))
                        ProduceFrame(lock, now);
                    else
                        warmed = true;
                    continue;
                }
                WaitForNews(lock, wait);
                continue;
            }
            // Nothing to send yet (or a stalled frame blocks the endpoint): wait for news.
            WaitForNews(lock, -1);
        }
    }

    TransferResult ReceiveNothing(uint64_t gen, CancelToken& cancel) {
        std::unique_lock lock(mutex);
        for (;;) {
            if (!Alive(gen)) {
                ++counters.disconnectedTransfers;
                return TransferResult::kDisconnected;
            }
            if (cancel.IsCancelled()) {
                ++counters.cancelledTransfers;
                return TransferResult::kCancelled;
            }
            WaitForNews(lock, -1);
        }
    }

    TransferResult SendCommand(uint64_t gen, const uint8_t* data, size_t length,
                               size_t* transferred) {
        std::lock_guard lock(mutex);
        if (!Alive(gen))
            return TransferResult::kDisconnected;
        if (commandWriting) {
            // Write data after "QU3W": bytes beyond the announced count are dropped.
            const size_t n = static_cast<size_t>(std::min<uint64_t>(length, writeRemaining));
            memory.Write(writeAddress, data, n);
            writeAddress += n;
            writeRemaining -= n;
            counters.commandBytesOut += n;
            if (writeRemaining == 0)
                commandWriting = false;
            *transferred = length;
            return TransferResult::kCompleted;
        }
        if (length != kCommandBlockBytes)
            return TransferResult::kStalled;
        const bool read = std::memcmp(data, kCommandMagicRead, 4) == 0;
        const bool write = std::memcmp(data, kCommandMagicWrite, 4) == 0;
        if ((!read && !write) || ReadLe32(data + 4) != kCommandVersion)
            return TransferResult::kStalled;
        const uint64_t address = ReadLe64(data + 8);
        const uint32_t count = ReadLe32(data + 16);
        ++counters.commandBlocks;
        if (read && count > 0) {
            InUnit unit;
            unit.kind = InUnit::Kind::kMemory;
            unit.address = address;
            unit.length = count;
            in.push_back(std::move(unit));
            changed.notify_all();
        } else if (write && count > 0) {
            commandWriting = true;
            writeAddress = address;
            writeRemaining = count;
        }
        *transferred = length;
        return TransferResult::kCompleted;
    }

    TransferResult Bulk(uint64_t gen, uint8_t endpoint, uint8_t* data, size_t length,
                        size_t* transferred, CancelToken& cancel) {
        size_t ignored = 0;
        if (transferred == nullptr)
            transferred = &ignored;
        *transferred = 0;
        if (length > 0 && data == nullptr)
            return TransferResult::kError;
        if (endpoint == reg::kEndpointCommandOut)
            return SendCommand(gen, data, length, transferred);
        if (endpoint != reg::kEndpointStreamIn && endpoint != reg::kEndpointAuxIn) {
            std::lock_guard lock(mutex);
            return Alive(gen) ? TransferResult::kStalled : TransferResult::kDisconnected;
        }
        if (length == 0) {
            // A zero-length read takes nothing from the stream.
            std::lock_guard lock(mutex);
            return Alive(gen) ? TransferResult::kCompleted : TransferResult::kDisconnected;
        }
        // Cancel wakes the waiting transfer at once. The waker runs outside the token's lock and
        // takes ours only to order its notification after our check of the token.
        cancel.SetWaker([this] {
            { std::lock_guard lock(mutex); }
            changed.notify_all();
        });
        const TransferResult result = endpoint == reg::kEndpointStreamIn
                                          ? ReceiveStream(gen, data, length, transferred, cancel)
                                          : ReceiveNothing(gen, cancel);
        cancel.ClearWaker();
        return result;
    }

    bool ResetPipe(uint64_t gen, uint8_t endpoint) {
        std::lock_guard lock(mutex);
        if (!Alive(gen))
            return false;
        switch (endpoint) {
            case reg::kEndpointStreamIn:
                FlushStream();
                break;
            case reg::kEndpointCommandOut:
                commandWriting = false;
                break;
            case reg::kEndpointAuxIn:
                break;
            default:
                return false;
        }
        ++counters.pipeResets;
        return true;
    }

    bool ResetDevice(uint64_t gen) {
        std::lock_guard lock(mutex);
        if (!Alive(gen))
            return false;
        FlushStream();
        commandWriting = false;
        ++counters.deviceResets;
        return true;
    }

    bool IsConnected(uint64_t gen) const {
        std::lock_guard lock(mutex);
        return Alive(gen);
    }

    uint32_t DeviceSpeed(uint64_t gen) const {
        std::lock_guard lock(mutex);
        return Alive(gen) ? config.deviceSpeed : 0;
    }
};

// A link bound to one plug-in of the camera: once that plug-in ends, it stays disconnected even
// when the camera is plugged in again (under another instance id, so another device path).
class EmulatedCamera::PlugLink : public UsbLink {
public:
    PlugLink(std::shared_ptr<State> state, uint64_t generation)
        : m_state(std::move(state)), m_generation(generation) {}

    TransferResult ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                   size_t* transferred) override {
        return m_state->Control(m_generation, setup, data, transferred);
    }
    TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length, size_t* transferred,
                                CancelToken& cancel) override {
        return m_state->Bulk(m_generation, endpoint, data, length, transferred, cancel);
    }
    bool ResetPipe(uint8_t endpoint) override { return m_state->ResetPipe(m_generation, endpoint); }
    bool ResetDevice() override { return m_state->ResetDevice(m_generation); }
    uint32_t DeviceSpeed() override { return m_state->DeviceSpeed(m_generation); }
    bool IsConnected() const override { return m_state->IsConnected(m_generation); }

private:
    const std::shared_ptr<State> m_state;
    const uint64_t m_generation;
};

EmulatedCamera::EmulatedCamera(const CameraConfig& config, std::string instanceId)
    : m_config(config), m_state(std::make_shared<State>(config, std::move(instanceId))) {}

EmulatedCamera::~EmulatedCamera() {
    // Links handed out keep the state alive; they must see the camera gone.
    Unplug();
}

TransferResult EmulatedCamera::ControlTransfer(const SetupPacket& setup, uint8_t* data,
                                               size_t* transferred) {
    uint64_t gen;
    {
        std::lock_guard lock(m_state->mutex);
        gen = m_state->generation;
    }
    return m_state->Control(gen, setup, data, transferred);
}

TransferResult EmulatedCamera::BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length,
                                            size_t* transferred, CancelToken& cancel) {
    uint64_t gen;
    {
        std::lock_guard lock(m_state->mutex);
        gen = m_state->generation;
    }
    return m_state->Bulk(gen, endpoint, data, length, transferred, cancel);
}

bool EmulatedCamera::ResetPipe(uint8_t endpoint) {
    uint64_t gen;
    {
        std::lock_guard lock(m_state->mutex);
        gen = m_state->generation;
    }
    return m_state->ResetPipe(gen, endpoint);
}

bool EmulatedCamera::ResetDevice() {
    uint64_t gen;
    {
        std::lock_guard lock(m_state->mutex);
        gen = m_state->generation;
    }
    return m_state->ResetDevice(gen);
}

uint32_t EmulatedCamera::DeviceSpeed() {
    std::lock_guard lock(m_state->mutex);
    return m_state->connected ? m_config.deviceSpeed : 0;
}

bool EmulatedCamera::IsConnected() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->connected;
}

std::string EmulatedCamera::InstanceId() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->instanceId;
}

platform::usb::LinkDescriptor EmulatedCamera::Descriptor() const {
    platform::usb::LinkDescriptor descriptor;
    descriptor.vendorId = m_config.vendorId;
    descriptor.productId = m_config.productId;
    descriptor.instanceId = InstanceId();
    descriptor.interfaceClass = platform::kCameraInterfaceGuid;
    return descriptor;
}

std::shared_ptr<UsbLink> EmulatedCamera::OpenPlugLink() {
    std::lock_guard lock(m_state->mutex);
    if (!m_state->connected)
        return nullptr;
    return std::make_shared<PlugLink>(m_state, m_state->generation);
}

void EmulatedCamera::Unplug() {
    std::lock_guard lock(m_state->mutex);
    m_state->connected = false;
    m_state->changed.notify_all();
}

void EmulatedCamera::Replug(std::string newInstanceId) {
    std::lock_guard lock(m_state->mutex);
    State& s = *m_state;
    const double now = NowMs();
    s.connected = true;
    ++s.generation;
    s.instanceId = std::move(newInstanceId);
    // A fresh power-up of the USB side: nothing is in flight, the camera starts again.
    s.FlushStream();
    s.commandWriting = false;
    s.plugTimeMs = now;
    s.frameClockMs = now;
    s.lastSentFrame = s.framesProduced;
    s.changed.notify_all();
}

CameraLog& EmulatedCamera::Log() {
    return m_state->log;
}

CameraFaults& EmulatedCamera::Faults() {
    return m_state->faults;
}

CameraCounters EmulatedCamera::Counters() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->counters;
}

ReadoutSettings EmulatedCamera::Readout() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->Decode();
}

bool EmulatedCamera::FireTrigger() {
    std::lock_guard lock(m_state->mutex);
    State& s = *m_state;
    const double now = NowMs();
    if (!s.connected || !s.Ready(now) || !s.TriggerArmed(s.sensor.Settings()))
        return false;
    ++s.framesProduced;
    s.frameClockMs = now;
    ++s.counters.triggers;
    s.changed.notify_all();
    return true;
}

uint32_t EmulatedCamera::FramesProduced() const {
    std::lock_guard lock(m_state->mutex);
    m_state->AdvanceSensor(NowMs());
    return m_state->framesProduced;
}

bool EmulatedCamera::IsReady() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->Ready(NowMs());
}

uint8_t EmulatedCamera::FpgaRegister(uint8_t reg) const {
    std::lock_guard lock(m_state->mutex);
    return m_state->fpga[reg];
}

uint8_t EmulatedCamera::SensorRegister(uint16_t address) const {
    std::lock_guard lock(m_state->mutex);
    return m_state->sensor.Read(address);
}

uint8_t EmulatedCamera::AuxRegister(uint8_t reg) const {
    std::lock_guard lock(m_state->mutex);
    return m_state->aux[reg];
}

uint8_t EmulatedCamera::EepromByte(uint16_t address) const {
    std::lock_guard lock(m_state->mutex);
    return m_state->eeprom.Byte(address);
}

uint8_t EmulatedCamera::MemoryByte(uint64_t address) const {
    std::lock_guard lock(m_state->mutex);
    return m_state->memory.Byte(address);
}

void EmulatedCamera::SetEepromByte(uint16_t address, uint8_t value) {
    std::lock_guard lock(m_state->mutex);
    m_state->eeprom.SetByte(address, value);
}

void EmulatedCamera::SetImperfections(const Imperfections& imperfections) {
    std::lock_guard lock(m_state->mutex);
    m_state->imperfections = imperfections;
}

void EmulatedCamera::SetFramePacing(double framesPerSecond, bool asFastAsPossible) {
    std::lock_guard lock(m_state->mutex);
    m_state->AdvanceSensor(NowMs());
    m_state->framesPerSecond = framesPerSecond;
    m_state->asFastAsPossible = asFastAsPossible;
    m_state->changed.notify_all();
}

}  // namespace quorix::sim
