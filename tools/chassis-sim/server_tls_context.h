#pragma once

#include <string>

using SSL_CTX = struct ssl_ctx_st;

namespace chassis_sim {

// The TLS server context of the simulator: a fresh self-signed certificate on an EC P-256 key,
// made in memory (nothing is read from or written to disk). The viewer accepts any server
// certificate and offers none of its own, so none is requested.
class ServerTlsContext {
public:
    ServerTlsContext() = default;
    ~ServerTlsContext();
    ServerTlsContext(const ServerTlsContext&) = delete;
    ServerTlsContext& operator=(const ServerTlsContext&) = delete;

    // Makes key, certificate and context. On failure returns false with the reason in `error`.
    bool create(std::string* error);
    SSL_CTX* get() const { return _ctx; }

private:
    SSL_CTX* _ctx = nullptr;
};

}  // namespace chassis_sim
