#pragma once

#include "callback_mgr.h"

// The live viewer's reaction to device events: a log line for two of them, nothing else.
class LiveDataCallbackHandler : public CallbackHandler {
public:
    void callbackConfigUpdate() override;
    void callbackConnectionStatusChanged(std::pair<std::uint32_t, std::uint32_t> status) override;
    void callbackDataReady(std::shared_ptr<DataPoint> point) override;
    void callbackClosedLoopComplete(bool closedLoop) override;
    void callbackDevModeComplete(bool devMode) override;
    void callbackProgress(std::string chassisName, std::uint32_t progress,
                          std::string message) override;
    void callbackSystemStatus(std::string chassisName, std::uint32_t status) override;
    void callbackDeviceDiscovery(std::vector<std::vector<DeviceInfoStruct>>& devices) override;
    void callbackSensorError(std::string chassisName, std::uint32_t sensorId,
                             std::uint32_t errorFlags) override;
    void callbackRawCmdResp(std::uint32_t chassisId, std::uint32_t sensorNum,
                            std::uint32_t registerAddress, std::uint32_t data) override;
};
