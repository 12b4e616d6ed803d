// The peer echo canceller of the field report: Debian's WebRTC audio
// processing (0.3), echo canceller with extended filter and delay-agnostic
// mode, high suppression; noise suppression on request. Only this bench
// links it.
#ifndef BENCH_AEC_FIELD_WEBRTC_PEER_H
#define BENCH_AEC_FIELD_WEBRTC_PEER_H

#include <cstdint>
#include <vector>

struct PeerRun {
    std::vector<int16_t> output; // as long as the input, not delay-compensated
    double cpu_seconds = 0.0;    // thread CPU time of the processing calls
};

PeerRun run_webrtc_peer(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
                        bool noise_suppression);

#endif
