#pragma once

#include <cstdint>

namespace quorix {

// The camera controller as the sensor heads see it: the camera board's serial bus (sensor bridge,
// FPGA, auxiliary device, EEPROM), the controller's word and register requests and the abort of a
// pending frame receive. The engine owns the one implementation (CVolCy3Cam) and hands heads this
// interface, which they never own. Every operation here fails (returns 0) unless the
// implementation provides it; results are nonzero for success.
//
// The order of the virtual operations is the controller's slot order; keep it.
class CControllerBase {
public:
    CControllerBase() = default;
    CControllerBase(const CControllerBase&) = delete;
    CControllerBase& operator=(const CControllerBase&) = delete;
    virtual ~CControllerBase() = default;  // slot 0

    // Slot 1: reserved; answers 0.
    virtual int Reserved1() { return 0; }
    // Slot 2: closes the stream handle and frees the transfer buffer.
    virtual void Release() {}
    // Slot 3: selects the device-table entry that every request then goes to; fails, keeping the
    // old selection, when the entry is missing or does not open.
    virtual int SelectDevice(int32_t /*index*/) { return 0; }
    // Slot 4: the FPGA version, register 0x11 high byte and 0x10 low byte.
    virtual int ReadFpgaVersion(uint16_t* /*version*/) { return 0; }
    // Slot 5: the camera's readiness line (1 = ready).
    virtual int ReadGpio25State(uint8_t* /*state*/) { return 0; }
    // Slot 6: vendor request 0xCC.
    virtual int SendVendorRequestCC() { return 0; }
    // Slot 7: writes `count` (at most 64) bytes to a sensor-bus device (8-bit write address).
    // `timeoutMs` is accepted for the callers' sake; the request carries its own 3 s limit.
    virtual int BusWrite(uint8_t /*address*/, const uint8_t* /*data*/, uint32_t /*count*/,
                         uint32_t /*timeoutMs*/) {
        return 0;
    }
    // Slot 8: reads `count` (at most 64) bytes from a sensor-bus device; succeeds only when all of
    // them came back.
    virtual int BusRead(uint8_t /*address*/, uint8_t* /*data*/, uint32_t /*count*/,
                        uint32_t /*timeoutMs*/) {
        return 0;
    }
    // Slot 9: a 32-bit controller register (vendor request 0xD0).
    virtual int WriteRegister32(uint16_t /*address*/, uint32_t /*value*/) { return 0; }
    // Slot 10: a 16-bit controller register (vendor request 0xD1); 0 in `value` on a short reply.
    virtual int ReadRegister16(uint16_t /*address*/, uint16_t* /*value*/) { return 0; }
    // Slot 11: two 16-bit words, each sent high byte first (vendor request 0x3E).
    virtual int WriteWordPair(uint16_t /*first*/, uint16_t /*second*/) { return 0; }
    // Slot 12: a 16-bit word selected by `selector` (vendor request 0x3F).
    virtual int ReadWord(uint16_t /*selector*/, uint16_t* /*value*/) { return 0; }
    // Slot 13: one FPGA register, under the controller's register lock.
    virtual int WriteFpgaRegister(uint8_t /*reg*/, uint8_t /*value*/) { return 0; }
    // Slot 14: one FPGA register, under the controller's register lock.
    virtual int ReadFpgaRegister(uint8_t /*reg*/, uint8_t* /*value*/) { return 0; }
    // Slot 15: a register of the auxiliary bus device 0x5A.
    virtual int WriteDevice5A(uint8_t /*reg*/, uint8_t /*value*/) { return 0; }
    // Slot 16: a register of the auxiliary bus device 0x5A.
    virtual int ReadDevice5A(uint8_t /*reg*/, uint8_t* /*value*/) { return 0; }
    // Slot 17: one EEPROM byte; returns after the EEPROM's write time.
    virtual int WriteEepromByte(uint16_t /*address*/, uint8_t /*value*/) { return 0; }
    // Slot 18: one EEPROM byte.
    virtual int ReadEepromByte(uint16_t /*address*/, uint8_t* /*value*/) { return 0; }
    // Slot 19: ends a pending receive on the stream's bulk-in endpoint; callable from any thread.
    virtual int AbortInPipe() { return 0; }
};

}  // namespace quorix
