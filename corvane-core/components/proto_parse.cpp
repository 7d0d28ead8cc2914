#include "proto_parse.h"

void ProtoParse::parseMessage(std::uint32_t /*chassisId*/, MessageType /*type*/,
                              const std::uint8_t* /*data*/, std::uint32_t /*length*/) {}
