#include "webrtc_peer.h"

#include <memory>

#include <time.h>

#include "CpuTime.h"
#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

namespace
{

constexpr size_t kPeerFrame = 160; // 10 ms at 16 kHz

void fill_frame(webrtc::AudioFrame& frame, const int16_t* samples)
{
    frame.sample_rate_hz_ = 16000;
    frame.num_channels_ = 1;
    frame.samples_per_channel_ = kPeerFrame;
    for (size_t i = 0; i < kPeerFrame; ++i)
        frame.data_[i] = samples[i];
}

} // namespace

PeerRun run_webrtc_peer(const std::vector<int16_t>& mic, const std::vector<int16_t>& ref,
                        bool noise_suppression)
{
    webrtc::Config config;
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    std::unique_ptr<webrtc::AudioProcessing> apm(webrtc::AudioProcessing::Create(config));
    apm->echo_cancellation()->enable_drift_compensation(false);
    apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kHighSuppression);
    apm->echo_cancellation()->Enable(true);
    apm->high_pass_filter()->Enable(true);
    if (noise_suppression) {
        apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
        apm->noise_suppression()->Enable(true);
    }

    PeerRun run;
    run.output.assign(mic.size(), 0);
    webrtc::AudioFrame far, near;
    for (size_t t = 0; t + kPeerFrame <= mic.size(); t += kPeerFrame) {
        fill_frame(far, &ref[t]);
        fill_frame(near, &mic[t]);
        const double begin = threadCpuSeconds();
        apm->ProcessReverseStream(&far);
        apm->set_stream_delay_ms(0);
        apm->ProcessStream(&near);
        run.cpu_seconds += threadCpuSeconds() - begin;
        for (size_t i = 0; i < kPeerFrame; ++i)
            run.output[t + i] = near.data_[i];
    }
    return run;
}
