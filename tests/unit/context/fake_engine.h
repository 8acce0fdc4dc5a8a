#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

#include "engine/quorix_u3r5_base.h"

namespace quorix::test {

// An engine whose cameras and EEPROM the test lays out, and which remembers what it was asked.
class FakeEngine : public CQuorixU3R5Base {
public:
    std::set<int32_t> present;   // instance numbers of present cameras
    int32_t countedDevices = 0;  // what CountDevices answers
    bool sensorOpens = true;
    std::vector<int32_t> createdSensors;
    std::map<uint32_t, uint8_t> eeprom;  // addresses that read; any other address fails
    std::vector<uint32_t> eepromReads;

    // No controller: the test lays out the cameras itself.
    int CreateController(platform::WindowHandle, const platform::Guid*) override { return 1; }
    int CreateSensor(int32_t instance) override {
        createdSensors.push_back(instance);
        return sensorOpens ? 1 : 0;
    }
    int IsDeviceAvailable(int32_t instance) override { return present.count(instance) ? 1 : 0; }
    int32_t CountDevices(int32_t /*cameraId*/) override { return countedDevices; }
    int ReadEepromByte(uint32_t address, uint8_t* value) override {
        eepromReads.push_back(address);
        const auto it = eeprom.find(address);
        if (it == eeprom.end()) {
            return 0;
        }
        *value = it->second;
        return 1;
    }
};

}  // namespace quorix::test
