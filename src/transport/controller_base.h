#pragma once

#include <cstdint>

namespace quorix {

// The camera controller as the sensor heads see it: the camera board's serial bus (sensor bridge,
// FPGA, auxiliary device, EEPROM), the controller's word and register requests and the abort of a
// pending frame receive. The engine owns the one implementation (CVolCy3Cam) and hands heads this
// interface, which they never own. Every operation here fails (returns 0) unless the
// implementation provides it; results are nonzero for success.
class CControllerBase {
public:
    CControllerBase() = default;
    CControllerBase(const CControllerBase&) = delete;
    CControllerBase& operator=(const CControllerBase&) = delete;
    virtual ~CControllerBase() = default;

    // Closes the stream handle and frees the transfer buffer.
    virtual void Release() {}
    // Selects the device-table entry that every request then goes to; fails, keeping the
    // old selection, when the entry is missing or does not open.
    virtual int SelectDevice(int32_t /*index*/) { return 0; }
    // The FPGA version, register 0x11 high byte and 0x10 low byte.
    virtual int ReadFpgaVersion(uint16_t* /*version*/) { return 0; }
    // The camera's readiness line (1 = ready).
    virtual int ReadGpio25State(uint8_t* /*state*/) { return 0; }
    // Vendor request 0xCC.
    virtual int SendVendorRequestCC() { return 0; }
    // Writes `count` (at most 64) bytes to a sensor-bus device (8-bit write address).
    // `timeoutMs` is accepted for the callers' sake; the request carries its own 3 s limit.
    virtual int BusWrite(uint8_t /*address*/, const uint8_t* /*data*/, uint32_t /*count*/,
                         uint32_t /*timeoutMs*/) {
        return 0;
    }
    // Reads `count` (at most 64) bytes from a sensor-bus device; succeeds only when all of
    // them came back.
    virtual int BusRead(uint8_t /*address*/, uint8_t* /*data*/, uint32_t /*count*/,
                        uint32_t /*timeoutMs*/) {
        return 0;
    }
    // A 32-bit controller register (vendor request 0xD0).
    virtual int WriteRegister32(uint16_t /*address*/, uint32_t /*value*/) { return 0; }
    // A 16-bit controller register (vendor request 0xD1); 0 in `value` on a short reply.
    virtual int ReadRegister16(uint16_t /*address*/, uint16_t* /*value*/) { return 0; }
    // Two 16-bit words, each sent high byte first (vendor request 0x3E).
    virtual int WriteWordPair(uint16_t /*first*/, uint16_t /*second*/) { return 0; }
    // A 16-bit word selected by `selector` (vendor request 0x3F).
    virtual int ReadWord(uint16_t /*selector*/, uint16_t* /*value*/) { return 0; }
    // One FPGA register, under the controller's register lock.
    virtual int WriteFpgaRegister(uint8_t /*reg*/, uint8_t /*value*/) { return 0; }
    // One FPGA register, under the controller's register lock.
    virtual int ReadFpgaRegister(uint8_t /*reg*/, uint8_t* /*value*/) { return 0; }
    // A register of the auxiliary bus device 0x5A.
    virtual int WriteDevice5A(uint8_t /*reg*/, uint8_t /*value*/) { return 0; }
    // A register of the auxiliary bus device 0x5A.
    virtual int ReadDevice5A(uint8_t /*reg*/, uint8_t* /*value*/) { return 0; }
    // One EEPROM byte; returns after the EEPROM's write time.
    virtual int WriteEepromByte(uint16_t /*address*/, uint8_t /*value*/) { return 0; }
    // One EEPROM byte.
    virtual int ReadEepromByte(uint16_t /*address*/, uint8_t* /*value*/) { return 0; }
    // Ends a pending receive on the stream's bulk-in endpoint; callable from any thread.
    virtual int AbortInPipe() { return 0; }
};

}  // namespace quorix
