#include "cmd_gen.h"

#include <mutex>
#include <string>

#include "device_mgr.h"
#include "net-protocol.pb.h"

std::shared_ptr<CmdGen> CmdGen::_singleton;

std::shared_ptr<CmdGen> CmdGen::GetInstance() {
    // Connection threads may ask for the generator at the same time.
    static std::once_flag once;
    std::call_once(once, [] { _singleton.reset(new CmdGen()); });
    return _singleton;
}

void CmdGen::genCmdStatusReq(std::int32_t chassisId) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::STATUS_REQ);
    queueCmd(chassisId, packet);
}

void CmdGen::genCmdCompleteSystemStatusReq(std::int32_t chassisId) {
    CmdPacket packet;
    packet.set_cmd(CmdPacket::COMPLETE_SYSTEM_STATUS_REQ);
    queueCmd(chassisId, packet);
}

void CmdGen::queueCmd(std::int32_t chassisId, const CmdPacket& packet) {
    std::string bytes;
    packet.SerializePartialToString(&bytes);
    DeviceMgr::GetInstance()->queueCmd(chassisId, std::move(bytes));
}
