#pragma once

#include <cstdint>
#include <memory>

class CmdPacket;

// Builds every command packet sent to a chassis and queues it through the device registry.
// Stateless; its operations may run on any thread.
class CmdGen {
public:
    static std::shared_ptr<CmdGen> GetInstance();

    void genCmdStatusReq(std::int32_t chassisId);
    void genCmdCompleteSystemStatusReq(std::int32_t chassisId);

    // Serializes the packet (required fields are not checked) and hands it to the registry.
    void queueCmd(std::int32_t chassisId, const CmdPacket& packet);

private:
    CmdGen() = default;

    static std::shared_ptr<CmdGen> _singleton;
};
