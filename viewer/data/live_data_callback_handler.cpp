#include "live_data_callback_handler.h"

#include "log_line.h"

void LiveDataCallbackHandler::callbackConfigUpdate() {
    outLine("callbackConfigUpdate received");
}

void LiveDataCallbackHandler::callbackConnectionStatusChanged(
    std::pair<std::uint32_t, std::uint32_t> /*status*/) {}

void LiveDataCallbackHandler::callbackDataReady(std::shared_ptr<DataPoint> /*point*/) {
    outLine("Got data");
}

void LiveDataCallbackHandler::callbackClosedLoopComplete(bool /*closedLoop*/) {}

void LiveDataCallbackHandler::callbackDevModeComplete(bool /*devMode*/) {}

void LiveDataCallbackHandler::callbackProgress(std::string /*chassisName*/,
                                               std::uint32_t /*progress*/,
                                               std::string /*message*/) {}

void LiveDataCallbackHandler::callbackSystemStatus(std::string /*chassisName*/,
                                                   std::uint32_t /*status*/) {}

void LiveDataCallbackHandler::callbackDeviceDiscovery(
    std::vector<std::vector<DeviceInfoStruct>>& /*devices*/) {}

void LiveDataCallbackHandler::callbackSensorError(std::string /*chassisName*/,
                                                  std::uint32_t /*sensorId*/,
                                                  std::uint32_t /*errorFlags*/) {}

void LiveDataCallbackHandler::callbackRawCmdResp(std::uint32_t /*chassisId*/,
                                                 std::uint32_t /*sensorNum*/,
                                                 std::uint32_t /*registerAddress*/,
                                                 std::uint32_t /*data*/) {}
