#pragma once

// The camera emulator: Quorix 252 cameras (IMX252 sensor, 2048 x 1536) emulated at the USB level,
// for tests, for the CLI's simulated camera and for the quorix-camsim daemon.
//
// In-process use:
//     auto camera = quorix::sim::AttachCamera();           // the SDK now finds one camera
//     ... open it through the SDK, capture, inspect camera->Log(), camera->Counters() ...
//     camera->Faults().DropFrameHeaders(2);                 // inject faults
//     quorix::sim::Unplug(camera); quorix::sim::Replug(camera);
//     quorix::sim::DetachAllCameras();                      // in the test's tear-down
// A test of the USB level may also drive a camera directly through its UsbLink operations
// (CreateCamera gives one the SDK does not see).
//
// THE CAMERA MODEL
//
// Vendor requests (endpoint 0). The host sends every request with a 64-byte data stage;
// device-to-host replies are 64 bytes (or setup.length when that is smaller) unless noted.
//   0x30 bus write   value = byte count (<= 64 and <= setup.length), index = bus address (write
//                    form); the bytes are the first `value` bytes of the data stage
//   0x31 bus read    value = byte count (<= 64), index = bus address (bit 0 set or not); the reply
//                    is exactly `value` bytes
//   0x3C             4-byte little-endian word; its low byte is stored (read back by 0x3D)
//   0x3D             reply byte 0 = the byte stored by 0x3C
//   0x3E             4 bytes: word 1 (high byte first) = word register address, word 2 = value
//   0x3F             value = word register address; reply bytes 0..1 = its value, little-endian
//   0xB0             the device info block (below)
//   0xB1             the second info block: u32 device speed word at 0, u16 FPGA version at 4,
//                    u16 firmware version at 6, the rest 0
//   0xC0             stream reset: frame requests and the data waiting on 0x81 are discarded
//   0xC2             frame request: header and data follow on 0x81 when the frame is ready
//   0xC3             readiness line: reply byte 0 = 1 when ready, else 0
//   0xCC             accepted and counted; no effect on this camera
//   0xD0             value = address bit 15, index = address bits 0..14; 4 bytes: a 32-bit
//                    little-endian value stored in the controller's 32-bit register file
//   0xD1             index = 16-bit address; reply bytes 0..3 = that register, little-endian
// Any other request, a request with the wrong direction, or a malformed one stalls.
//
// Device info block (64 bytes): 0..15 model name "QUORIX-252" NUL-padded, 16 u16 vendor ID,
// 18 u16 product ID, 20 u16 FPGA version, 24 u16 firmware version, 28..51 serial number text
// NUL-padded, 52 u8 GPIO25 flag, the rest 0.
//
// Sensor bus (8-bit addresses; a read addresses the device with bit 0 set):
//   0x40 FPGA        write {reg, 0x00, value}; write {reg} sets the read pointer; a read returns
//                    {0x00, value} per register, counting up from the pointer
//   72   sensor      write {addr high, addr low, value...} (values to consecutive addresses);
//        bridge      write {addr high, addr low} sets the pointer; a read returns consecutive
//                    registers. Refused while the bridge is held in reset (FPGA 0x82 bit 0) or
//                    the camera is not ready. After a write with values or a read the bridge is
//                    busy until the FPGA's status is read: that read reports bit 1 once and the
//                    transfer ends during it. A bridge transfer while it is busy is refused, so a
//                    host must poll the status before each transfer.
//   0x5A auxiliary   write {reg, value...}; write {reg} sets the pointer; read from 0x5B
//   0x5E readiness   read: byte 0 = 0 when ready, 1 while starting; the other bytes 0
//   0xA2 EEPROM      64 KiB; write {addr high, addr low, value...}; write {addr high, addr low}
//                    sets the pointer; read from 0xA3. Blank cells read 0xFF. Serial number text
//                    at 0x1040 followed by 0xFF; user ID byte at 0x1080.
// Other addresses are refused (the vendor request stalls).
//
// FPGA registers (8-bit): 0x10..0x13 version (0x10 low, 0x11 high, 0x12/0x13 0; read-only);
// 2 status (bit 1 sensor bus busy, bits 0x90 while the camera is starting; read-only: see the
// sensor bridge below); 7 I/O
// port (reads back what was written); 8 frame counter (low 8 bits of the sensor's frame count;
// read-only); 0x3C data width (2 = 16-bit, anything else 8-bit); 0x40/0x41 frame height;
// 0x44/0x45 frame width; 0x48/0x49 read-out mode (12 full resolution, 11 sub-sampled);
// 0x4C/0x4D horizontal offset; 0x6C transfer reset (writing 1 discards the stream, the fall to 0
// counts one pulse); 0x81 reconfiguration (bit 1 reads 1 while configured; writing bit 0 = 1 and
// then 0 reloads the FPGA, which takes kFpgaReloadMs with bit 1 clear); 0x82 bit 0 holds the
// sensor bridge in reset; trigger timing 0x50/0x51 (trigger period in lines), 0x54/0x55 (pixel
// clocks per trigger line), 0x58 (trigger handling: 0 off), 0x85/0x86/0x9B (trigger exposure in
// lines). Power-up: every register 0 (no frame geometry, no read-out mode, 8-bit).
//
// Sensor (IMX252 registers, 16-bit addresses, 8-bit values). Writes made while 0x208 (register
// hold) is 1 take effect together when it returns to 0. Interpreted:
//   0x20D bit 0 vertical, bit 4 horizontal 2x2 sub-sampling (the host writes 0x11 or 0)
//   0x20E bit 0 vertical mirror, bit 1 horizontal mirror
//   0x20A/0x20B both 1: trigger mode
//   0x210..0x212 frame length FL [lines, 20 bits]; 0x214/0x215 line length LL
//   0x28D..0x28F shutter line SHS (20 bits); exposure = FL - SHS lines (at least 1)
//   0x404/0x405 gain G (9 bits, 0.1 dB steps)
//   0x454/0x455 black level (12 bits); the nominal scene is defined at 80, other values shift
//   every sample by the difference
//   0x500 bit 0 crop columns, bit 1 crop lines (window registers), else the whole sensor
//   0x510/0x511 h, 0x512/0x513 v, 0x514/0x515 width w, 0x516/0x517 height register hr: the window
//   registers count from the sensor's far edge with an 8-pixel margin, so the window is
//   columns x = 2048 + 8 - h - w .. x + w - 1 and rows y = 1536 + 8 - v - (hr - 4), hr - 4 of
//   them (the height register counts four lines more than the sensor sends).
// Power-up: the sensor's reset values, none of them what the host programs: whole sensor, not
// cropping, no mirror, gain 0, FL 1600, LL 464, SHS 16, black level 60, not sub-sampled,
// free-run.
//
// Streaming limits. A frame request is refused (stalls, counted in readoutRefusals) and a frame
// already asked for is not sent while the registers describe a read-out the camera cannot do
// (ReadoutFault, emulated_camera.h): the FPGA's read-out mode is not 11 with sub-sampling and 12
// without; at full resolution the offset register is not 2048 - window x - window width; the
// frame length is below the lines the sensor sends plus 34 lines of blanking; the shutter line
// lies outside 10..FL-1; the line length is below 444 (8-bit) or 888 (16-bit) at full resolution
// or 396 in sub-sampling.
//
// Read-out. The colour filter on the scene is G R on even rows, B G on odd rows (scene.h). The
// sensor sends its lines top to bottom (bottom to top with the vertical mirror) and each line
// right to left (left to right with the horizontal mirror), so a host that reverses every row
// sees the scene upright. In 2x2 sub-sampling the sensor reads columns x + 4k and x + 4k + 1 and
// rows y + 4k + 1 and y + 4k + 2 of its window: the sub-sampled image keeps the colour filter
// pattern and starts on a blue-green line. The FPGA then keeps frameHeight lines of what the
// sensor sends, and of each line frameWidth pixels. At full resolution (mode 12) the sensor has
// cut the window out already and the FPGA takes its lines from their first pixel; the offset
// register (the host programs 2048 - x - frameWidth) only records where the window sits in a
// whole line. Sub-sampled (mode 11) the sensor sends whole lines and the FPGA skips the offset
// register's pixels of each line as sent (the host programs 0). Pixels or lines the sensor does
// not deliver are sent as 0. The host does not crop the sensor in sub-sampling (0x500 = 0) and
// no register carries a sub-sampled window's position, so a sub-sampled frame always starts at
// the top of the sensor (row 1) and at the first pixel of the line as sent.
// Samples: 8-bit data is the converter's value >> 4; 16-bit data is little-endian with the
// converter's 12-bit value in the high bits (value << 4).
//
// Brightness, one rule for every data width, read-out mode and trigger operation:
// sample = nominal x brightness (+ black level shift), rounded and clipped to 0..4095, where
// brightness = exposureClocks / kNominalExposureClocks x 10^((G - 64) / 200): the exposure time
// over 17 ms, times the gain. exposureClocks is the exposure in pixel clocks of 54.545 MHz:
// free-run: exposure lines x LL x 323 / 444 (one line period is 323 pixel clocks at LL = 444, 646
// at 888, 288 at the sub-sampled 396); trigger mode: FPGA exposure lines x FPGA clocks per line
// (0x54/0x55), whatever the data width.
// The host's default exposure (17 ms: 2870 lines at LL 444, or 1435 at LL 888) and gain 64 give
// brightness 1: the scene's nominal values.
//
// Timing. Free-run: a frame lasts FL x LL x 323 / 444 pixel clocks (or 1 / framesPerSecond);
// frames complete one period after the previous one, on the platform clock (so SetTimeScale
// speeds them up). A frame request is answered by the newest completed frame not yet sent, or by
// the next one to complete. Trigger mode: a frame is produced by each trigger pulse; with
// autoTrigger the pulses come every trigger period (FPGA 0x50/0x51 lines x 0x54/0x55 clocks, or
// the free-run period when those are 0). asFastAsPossible answers every request at once. Frame
// content always follows the registers as they are when the frame is sent.
//
// The frame header is FrameHeader (frame_header.h).
//
// Command mode: a 32-byte block on 0x01: "QU3R" or "QU3W", u32 2, u64 address, u32 byte count,
// 12 zero bytes. "QU3R" queues `count` bytes of the emulated memory on 0x81; "QU3W" takes the
// next `count` bytes sent on 0x01 into it. Memory is sparse, 64-bit addressed, blank bytes 0.
// A block with another magic, version or size stalls.
//
// Endpoint 0x83 carries nothing on this camera: a receive there blocks until cancelled.

#include <memory>
#include <vector>

#include "platform/usb/usb_link.h"
#include "sim/camera_config.h"
#include "sim/emulated_camera.h"
#include "sim/frame_header.h"
#include "sim/scene.h"

namespace quorix::sim {

// Pixel clock of the sensor [Hz] and the exposure [pixel clocks] at which the scene reads its
// nominal values: 2870 lines of 323 clocks, the host's default 17 ms at 8 bits.
inline constexpr double kPixelClockHz = 54'545'000.0;
inline constexpr double kNominalExposureClocks = 2870.0 * 323.0;
// Time the FPGA needs to reload its configuration [ms of SDK time].
inline constexpr uint32_t kFpgaReloadMs = 200;

// Creates a camera, plugs it in under a new instance id and makes the in-process provider list
// it, so that the SDK's driver enumerates and opens it. The provider is registered with the
// driver (platform::usb::RegisterProvider) on first use.
std::shared_ptr<EmulatedCamera> AttachCamera(const CameraConfig& config = {});

// Creates a plugged-in camera that no provider lists: for tests that drive it directly.
std::shared_ptr<EmulatedCamera> CreateCamera(const CameraConfig& config = {});

// Pulls the camera's plug: the driver no longer lists it, its links report kDisconnected and
// pending transfers end with kDisconnected. Nothing happens when it is unplugged already.
void Unplug(const std::shared_ptr<EmulatedCamera>& camera);

// Plugs an unplugged camera in again under a new instance id (so a new device path), with the
// same registers, EEPROM and faults; a camera still plugged in is unplugged first.
void Replug(const std::shared_ptr<EmulatedCamera>& camera);

// Unplugs the camera and removes it from the provider for good.
void DetachCamera(const std::shared_ptr<EmulatedCamera>& camera);

// Detaches every camera that AttachCamera created. The provider stays registered (empty).
void DetachAllCameras();

// The cameras attached now (plugged in or not), in attach order.
std::vector<std::shared_ptr<EmulatedCamera>> AttachedCameras();

// The in-process provider (registered with the driver by the first AttachCamera).
std::shared_ptr<platform::usb::UsbLinkProvider> EmulatorProvider();

}  // namespace quorix::sim
