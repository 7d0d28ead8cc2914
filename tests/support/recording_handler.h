#pragma once

// A callback handler for tests: every device event becomes one line of text, in arrival order.

#include <mutex>
#include <string>
#include <vector>

#include "callback_mgr.h"

namespace link_test {

class RecordingHandler : public CallbackHandler {
public:
    void callbackConfigUpdate() override { add("ConfigUpdate"); }
    void callbackConnectionStatusChanged(std::pair<std::uint32_t, std::uint32_t> s) override {
        add("ConnectionStatus " + std::to_string(s.first) + "/" + std::to_string(s.second));
    }
    void callbackDataReady(std::shared_ptr<DataPoint>) override { add("DataReady"); }
    void callbackClosedLoopComplete(bool on) override {
        add(std::string("ClosedLoopComplete ") + (on ? "1" : "0"));
    }
    void callbackDevModeComplete(bool on) override {
        add(std::string("DevModeComplete ") + (on ? "1" : "0"));
    }
    void callbackProgress(std::string name, std::uint32_t progress, std::string text) override {
        add("Progress " + name + " " + std::to_string(progress) + " " + text);
    }
    void callbackSystemStatus(std::string name, std::uint32_t status) override {
        add("SystemStatus " + name + " " + std::to_string(status));
    }
    void callbackDeviceDiscovery(std::vector<std::vector<DeviceInfoStruct>>& devices) override {
        add("DeviceDiscovery " + std::to_string(devices.size()));
    }
    void callbackSensorError(std::string name, std::uint32_t sensor, std::uint32_t flags) override {
        add("SensorError " + name + " " + std::to_string(sensor) + " " + std::to_string(flags));
    }
    void callbackRawCmdResp(std::uint32_t chassis, std::uint32_t sensor, std::uint32_t address,
                            std::uint32_t data) override {
        add("RawCmdResp " + std::to_string(chassis) + " " + std::to_string(sensor) + " " +
            std::to_string(address) + " " + std::to_string(data));
    }

    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(_mutex);
        return _events;
    }
    void clear() {
        std::lock_guard<std::mutex> lock(_mutex);
        _events.clear();
    }

private:
    void add(std::string event) {
        std::lock_guard<std::mutex> lock(_mutex);
        _events.push_back(std::move(event));
    }

    mutable std::mutex _mutex;
    std::vector<std::string> _events;
};

}  // namespace link_test
