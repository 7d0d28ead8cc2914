#include "callback_mgr.h"

#include <mutex>

#include "device_mgr.h"

std::shared_ptr<CallbackMgr> CallbackMgr::_singleton;

std::shared_ptr<CallbackMgr> CallbackMgr::GetInstance() {
    static std::once_flag once;
    std::call_once(once, [] { _singleton.reset(new CallbackMgr()); });
    return _singleton;
}

void CallbackMgr::setCallbackHandler(std::shared_ptr<CallbackHandler> handler) {
    _handler.store(std::move(handler));
}

void CallbackMgr::callbackConfigUpdate() {
    if (auto handler = _handler.load()) {
        handler->callbackConfigUpdate();
    }
}

void CallbackMgr::callbackConnectionStatusChanged() {
    if (auto handler = _handler.load()) {
        handler->callbackConnectionStatusChanged(DeviceMgr::GetInstance()->getActiveConnections());
    }
}

void CallbackMgr::callbackDataReady(std::shared_ptr<DataPoint> point) {
    if (auto handler = _handler.load()) {
        handler->callbackDataReady(std::move(point));
    }
}

void CallbackMgr::callbackClosedLoopComplete(bool closedLoop) {
    if (auto handler = _handler.load()) {
        handler->callbackClosedLoopComplete(closedLoop);
    }
}

void CallbackMgr::callbackDevModeComplete(bool devMode) {
    if (auto handler = _handler.load()) {
        handler->callbackDevModeComplete(devMode);
    }
}

void CallbackMgr::callbackProgress(std::string chassisName, std::uint32_t progress,
                                   std::string message) {
    if (auto handler = _handler.load()) {
        handler->callbackProgress(std::move(chassisName), progress, std::move(message));
    }
}

void CallbackMgr::callbackSystemStatus(std::string chassisName, std::uint32_t status) {
    if (auto handler = _handler.load()) {
        handler->callbackSystemStatus(std::move(chassisName), status);
    }
}

void CallbackMgr::callbackDeviceDiscovery(std::vector<std::vector<DeviceInfoStruct>>& devices) {
    if (auto handler = _handler.load()) {
        handler->callbackDeviceDiscovery(devices);
    }
}

void CallbackMgr::callbackSensorError(std::string chassisName, std::uint32_t sensorId,
                                      std::uint32_t errorFlags) {
    if (auto handler = _handler.load()) {
        handler->callbackSensorError(std::move(chassisName), sensorId, errorFlags);
    }
}

void CallbackMgr::callbackRawCmdResp(std::uint32_t chassisId, std::uint32_t sensorNum,
                                     std::uint32_t registerAddress, std::uint32_t data) {
    if (auto handler = _handler.load()) {
        handler->callbackRawCmdResp(chassisId, sensorNum, registerAddress, data);
    }
}
