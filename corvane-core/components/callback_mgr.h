#pragma once

#include <cstdint>
#include <memory>
#include <utility>

// Device events as the application receives them. Handlers run on the thread that raised the
// event and must be safe for concurrent calls.
class CallbackHandler {
public:
    virtual ~CallbackHandler() = default;
    // (connected chassis, chassis count)
    virtual void callbackConnectionStatusChanged(
        std::pair<std::uint32_t, std::uint32_t> status) = 0;
};

// Forwards device events to the one registered handler; without a handler they are dropped.
class CallbackMgr {
public:
    static std::shared_ptr<CallbackMgr> GetInstance();

    // Must be called before any thread that raises callbacks is started.
    void setCallbackHandler(std::shared_ptr<CallbackHandler> handler);

    void callbackConnectionStatusChanged();

private:
    CallbackMgr() = default;

    static std::shared_ptr<CallbackMgr> _singleton;
    std::shared_ptr<CallbackHandler> _handler;
};
