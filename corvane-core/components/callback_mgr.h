#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "device_records.h"

struct DataPoint;

// Device events as the application receives them. Handlers run on the thread that raised the
// event (mostly connection threads, several at once) and must be safe for concurrent calls.
class CallbackHandler {
public:
    virtual ~CallbackHandler() = default;
    virtual void callbackConfigUpdate() = 0;
    // (connected chassis, chassis count)
    virtual void callbackConnectionStatusChanged(
        std::pair<std::uint32_t, std::uint32_t> status) = 0;
    virtual void callbackDataReady(std::shared_ptr<DataPoint> point) = 0;
    virtual void callbackClosedLoopComplete(bool closedLoop) = 0;
    virtual void callbackDevModeComplete(bool devMode) = 0;
    virtual void callbackProgress(std::string chassisName, std::uint32_t progress,
                                  std::string message) = 0;
    virtual void callbackSystemStatus(std::string chassisName, std::uint32_t status) = 0;
    virtual void callbackDeviceDiscovery(std::vector<std::vector<DeviceInfoStruct>>& devices) = 0;
    virtual void callbackSensorError(std::string chassisName, std::uint32_t sensorId,
                                     std::uint32_t errorFlags) = 0;
    virtual void callbackRawCmdResp(std::uint32_t chassisId, std::uint32_t sensorNum,
                                    std::uint32_t registerAddress, std::uint32_t data) = 0;
};

// Forwards device events to the one registered handler; without a handler they are dropped.
// Raisers release their own locks first, so a handler may query the registry.
class CallbackMgr {
public:
    static std::shared_ptr<CallbackMgr> GetInstance();

    // Meant to be called before any thread that raises callbacks starts; a later call is
    // still safe (the handler is swapped atomically).
    void setCallbackHandler(std::shared_ptr<CallbackHandler> handler);

    void callbackConfigUpdate();
    // Hands the handler the registry's (connected, count) taken at the moment of the call.
    void callbackConnectionStatusChanged();
    void callbackDataReady(std::shared_ptr<DataPoint> point);
    void callbackClosedLoopComplete(bool closedLoop);
    void callbackDevModeComplete(bool devMode);
    void callbackProgress(std::string chassisName, std::uint32_t progress, std::string message);
    void callbackSystemStatus(std::string chassisName, std::uint32_t status);
    void callbackDeviceDiscovery(std::vector<std::vector<DeviceInfoStruct>>& devices);
    void callbackSensorError(std::string chassisName, std::uint32_t sensorId,
                             std::uint32_t errorFlags);
    void callbackRawCmdResp(std::uint32_t chassisId, std::uint32_t sensorNum,
                            std::uint32_t registerAddress, std::uint32_t data);

private:
    CallbackMgr() = default;

    static std::shared_ptr<CallbackMgr> _singleton;
    std::atomic<std::shared_ptr<CallbackHandler>> _handler;
};
