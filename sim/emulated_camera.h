#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/usb/usb_link.h"
#include "sim/camera_config.h"
#include "sim/camera_faults.h"
#include "sim/camera_log.h"

namespace quorix::sim {

// Event counts of one emulated camera since it was created (kept across unplug and replug).
struct CameraCounters {
    uint64_t vendorRequests = 0;         // every control transfer on endpoint 0
    uint64_t frameRequests = 0;          // vendor request 0xC2
    uint64_t headersSent = 0;            // frame headers queued on endpoint 0x81
    uint64_t framesSent = 0;             // frames whose data the host has read to the end
    uint64_t headersDropped = 0;         // frame requests swallowed (fault, or invalid geometry)
    uint64_t dataStalls = 0;             // frames whose data was withheld (fault)
    uint64_t shortFrames = 0;            // frames sent short (fault)
    uint64_t transferResets = 0;         // pulses (1 then 0) of FPGA register 0x6C
    uint64_t streamResets = 0;           // vendor request 0xC0
    uint64_t pipeResets = 0;             // ResetPipe on any endpoint
    uint64_t deviceResets = 0;           // ResetDevice
    uint64_t bridgeResets = 0;           // sensor bridge resets (FPGA register 0x82 bit 0 raised)
    uint64_t bridgeBusyRefusals = 0;     // sensor-bridge transfers refused while it was busy
    uint64_t readoutRefusals = 0;        // frame requests refused for a ReadoutFault
    uint64_t fpgaReconfigurations = 0;   // reconfigurations started through FPGA register 0x81
    uint64_t triggers = 0;               // trigger pulses taken (automatic or FireTrigger)
    uint64_t busTransfers = 0;           // vendor requests 0x30 and 0x31
    uint64_t busRefusals = 0;            // sensor-bus transfers not acknowledged
    uint64_t commandBlocks = 0;          // valid "QU3R"/"QU3W" blocks on endpoint 0x01
    uint64_t commandBytesIn = 0;         // memory bytes sent to the host after "QU3R"
    uint64_t commandBytesOut = 0;        // memory bytes received after "QU3W"
    uint64_t eepromWrites = 0;           // EEPROM bytes written (stored or not)
    uint64_t cancelledTransfers = 0;     // bulk transfers ended by their cancel token
    uint64_t disconnectedTransfers = 0;  // transfers ended because the camera was unplugged
};

// Why the camera refuses to stream with the registers as they are: the FPGA's read-out mode or
// offset does not fit the sensor's window, or a timing limit of the sensor is broken (frame
// length below the lines sent plus blanking, shutter line out of range, line too short for the
// data width). Limits in camera_registers.h.
enum class ReadoutFault { kNone, kReadoutMode, kOffset, kFrameLength, kShutterLine, kLineLength };
const char* ReadoutFaultName(ReadoutFault fault);

// What the camera's registers currently make it send, decoded; for tests and tools.
struct ReadoutSettings {
    // FPGA: the frame sent.
    int frameWidth = 0;        // registers 0x44/0x45
    int frameHeight = 0;       // registers 0x40/0x41
    int bytesPerPixel = 1;     // register 0x3C: 2 when it holds 2, else 1
    int readoutMode = 0;       // registers 0x48/0x49 (12 full resolution, 11 sub-sampled)
    int horizontalOffset = 0;  // registers 0x4C/0x4D
    uint32_t frameBytes = 0;   // frameWidth x frameHeight x bytesPerPixel
    // Sensor: the window it reads, in sensor coordinates (the whole sensor when not cropping).
    int windowX = 0;
    int windowY = 0;
    int windowWidth = 0;
    int windowHeight = 0;
    bool subSampleH = false;     // register 0x20D bit 4
    bool subSampleV = false;     // register 0x20D bit 0
    int sensorLineWidth = 0;     // pixels per line the sensor sends
    int sensorLines = 0;         // lines per frame the sensor sends
    bool mirrorV = false;        // register 0x20E bit 0
    bool mirrorH = false;        // register 0x20E bit 1
    bool triggerMode = false;    // registers 0x20A and 0x20B both 1
    uint32_t gain = 0;           // registers 0x404/0x405
    int blackLevel = 0;          // registers 0x454/0x455
    uint32_t frameLines = 0;     // registers 0x210..0x212
    uint32_t lineLength = 0;     // registers 0x214/0x215
    uint32_t shutterLine = 0;    // registers 0x28D..0x28F
    uint32_t exposureLines = 0;  // free-run: frameLines - shutterLine; trigger: FPGA 0x85/0x86/0x9B
    double exposureClocks = 0;   // exposure in pixel clocks of 54.545 MHz
    double brightness = 1.0;     // exposureClocks / kNominalExposureClocks x gain factor
    double framePeriodMs = 0;    // time between frames in free-run (or the trigger period)
    ReadoutFault fault = ReadoutFault::kNone;  // kNone: the camera streams

    friend bool operator==(const ReadoutSettings&, const ReadoutSettings&) = default;
};

// One emulated Quorix 252 camera as a USB device: the USB controller's firmware (vendor requests,
// device info, readiness, frame requests and the bulk stream, command-mode memory transfers), the
// sensor bus with its devices (FPGA, sensor bridge to the IMX252, auxiliary device, readiness
// device, EEPROM), and the sensor producing frames of the scene (scene.h) as its registers say.
// The camera model is described in emulator.h.
//
// The camera's own UsbLink operations act on the current plug-in: after Unplug they report
// kDisconnected, after Replug they work again. OpenPlugLink gives a link bound to one plug-in,
// which stays dead once that plug-in ends (what the in-process provider hands to the driver).
//
// Created by AttachCamera or CreateCamera (emulator.h) and shared by its users. Every operation
// is thread-safe: a capture thread may block in a bulk receive while other threads send control
// requests, inspect registers or inject faults.
class EmulatedCamera : public platform::usb::UsbLink {
public:
    EmulatedCamera(const CameraConfig& config, std::string instanceId);
    ~EmulatedCamera() override;
    EmulatedCamera(const EmulatedCamera&) = delete;
    EmulatedCamera& operator=(const EmulatedCamera&) = delete;

    // --- UsbLink (the current plug-in) ---
    // Endpoint 0: the vendor requests of the camera's firmware. Requests the firmware does not
    // know, refused sensor-bus transfers and malformed requests stall.
    platform::usb::TransferResult ControlTransfer(const platform::usb::SetupPacket& setup,
                                                  uint8_t* data, size_t* transferred) override;
    // Endpoint 0x81 (in): frame headers, frame data and command-mode memory reads, in the order
    // they were asked for; a transfer returns min(length, what is left of the current unit), so
    // a header and its frame data never share a transfer. Blocks until there is data.
    // Endpoint 0x01 (out): command blocks and command-mode write data.
    // Endpoint 0x83 (in): not used by this camera; a transfer blocks until cancelled.
    // Other endpoints stall. Every blocking transfer ends at once when `cancel` is cancelled
    // (kCancelled) or the camera is unplugged (kDisconnected).
    platform::usb::TransferResult BulkTransfer(uint8_t endpoint, uint8_t* data, size_t length,
                                               size_t* transferred,
                                               platform::usb::CancelToken& cancel) override;
    // Pipe reset: 0x81 discards the data waiting on it, 0x01 returns the command parser to
    // waiting for a block. False for endpoints the camera does not have.
    bool ResetPipe(uint8_t endpoint) override;
    // USB port reset: discards the stream and the command state; registers are kept.
    bool ResetDevice() override;
    uint32_t DeviceSpeed() override;
    bool IsConnected() const override;

    // --- plugging ---
    const CameraConfig& Config() const { return m_config; }
    // The instance id of the current plug-in ("sim&N"), unique per attach and per replug.
    std::string InstanceId() const;
    platform::usb::LinkDescriptor Descriptor() const;
    // A link bound to the current plug-in; null when unplugged.
    std::shared_ptr<platform::usb::UsbLink> OpenPlugLink();
    // Ends the plug-in: IsConnected turns false, pending transfers end with kDisconnected.
    void Unplug();
    // Plugs the camera in again under a new instance id. Registers, EEPROM and memory keep their
    // contents; the stream is empty and the readiness delay starts again.
    void Replug(std::string newInstanceId);

    // --- test access ---
    CameraLog& Log();
    CameraFaults& Faults();
    CameraCounters Counters() const;
    ReadoutSettings Readout() const;

    // A pulse on the trigger input. Taken only in trigger mode (sensor registers 0x20A and 0x20B
    // set and FPGA register 0x58 non-zero); returns whether it was taken.
    bool FireTrigger();
    // Frames the sensor has produced so far. Frame headers carry these numbers (the first frame
    // is 1); the FPGA frame counter (register 8) is the low byte.
    uint32_t FramesProduced() const;
    bool IsReady() const;

    // Register files as the camera holds them (no side effects, not logged).
    uint8_t FpgaRegister(uint8_t reg) const;
    uint8_t SensorRegister(uint16_t address) const;
    uint8_t AuxRegister(uint8_t reg) const;
    uint8_t EepromByte(uint16_t address) const;
    uint8_t MemoryByte(uint64_t address) const;
    // Back doors for test set-up (not logged).
    void SetEepromByte(uint16_t address, uint8_t value);
    void SetImperfections(const Imperfections& imperfections);
    // Frame pacing at run time: see CameraConfig::framesPerSecond and asFastAsPossible.
    void SetFramePacing(double framesPerSecond, bool asFastAsPossible);

private:
    struct State;
    class PlugLink;

    const CameraConfig m_config;
    // Shared with the plug links handed out, which may outlive the camera object.
    std::shared_ptr<State> m_state;
};

}  // namespace quorix::sim
