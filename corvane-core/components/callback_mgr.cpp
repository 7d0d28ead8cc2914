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
    _handler = std::move(handler);
}

void CallbackMgr::callbackConnectionStatusChanged() {
    if (!_handler) {
        return;
    }
    _handler->callbackConnectionStatusChanged(DeviceMgr::GetInstance()->getActiveConnections());
}
