#include "output_queue.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>

#include "frame_codec.h"

namespace chassis_sim {

namespace {

// A batch is closed once one more largest frame might push it past a record.
constexpr std::size_t BATCH_LIMIT =
    OutputQueue::RECORD_BYTES - (FRAME_HEADER_SIZE + MAX_RECEIVE_PAYLOAD);

}  // namespace

std::string& OutputQueue::batch() {
    if (_segments.empty() || _segments.back().sealed ||
        _segments.back().bytes.size() >= BATCH_LIMIT) {
        _segments.emplace_back();
        _segments.back().bytes.reserve(RECORD_BYTES);
    }
    return _segments.back().bytes;
}

void OutputQueue::appendSealed(std::string bytes) {
    if (!bytes.empty()) {
        _segments.push_back(Segment{std::move(bytes), true});
    }
}

std::size_t OutputQueue::pendingBytes() const {
    std::size_t total = 0;
    for (const Segment& segment : _segments) {
        total += segment.bytes.size();
    }
    return total - _frontOffset;
}

OutputQueue::FlushResult OutputQueue::flush(SSL* ssl) {
    while (!_segments.empty()) {
        const std::string& front = _segments.front().bytes;
        if (_frontOffset >= front.size()) {
            _segments.pop_front();
            _frontOffset = 0;
            continue;
        }
        // Never shorter than an earlier unfinished attempt: the segment only grows and the
        // cap is constant.
        const std::size_t length = std::min(front.size() - _frontOffset, RECORD_BYTES);
        ERR_clear_error();
        const int written = SSL_write(ssl, front.data() + _frontOffset, static_cast<int>(length));
        if (written > 0) {
            _frontOffset += static_cast<std::size_t>(written);
            continue;
        }
        switch (SSL_get_error(ssl, written)) {
            case SSL_ERROR_WANT_WRITE:
                return FlushResult::WantWrite;
            case SSL_ERROR_WANT_READ:
                return FlushResult::WantRead;
            default:
                return FlushResult::Failed;
        }
    }
    _frontOffset = 0;
    return FlushResult::Done;
}

}  // namespace chassis_sim
