// Fast recovery of field mode after an echo-path change.
//
// The canceller scales its step by its leak estimate, which moves slowly, so
// after a path change it keeps adapting cautiously for seconds. A change shows
// as a drop of the frame ERLE well below its recent level while the output is
// coherent with the reference; near-end speech also lowers the ERLE but is not
// coherent with the reference, so double talk does not trigger. While the
// condition holds (and 25 frames after), the leak estimate is held at least
// at one half, which gives the largest steps the canceller's rule allows.
#include "field_state.h"

namespace ostrel
{

namespace
{

constexpr float kTriggerCoherence = 0.3f;
constexpr float kTriggerDropDb = 8.0f;
constexpr int32_t kHoldFrames = 25;
constexpr float kBoostLeak = 0.5f;

} // namespace

void recovery_update(FieldState *field, EchoState *echo)
{
    if (field->far_power <= kFarActivePower) {
        if (field->boost_frames > 0)
            field->boost_frames -= 1;
        return;
    }
    const bool dropped = field->erle_fast < field->erle_slow - kTriggerDropDb;
    if (dropped && field->coherence_xe > kTriggerCoherence && filter_ready(field, echo)) {
        field->boost_frames = kHoldFrames;
    } else if (field->boost_frames > 0) {
        field->boost_frames -= 1;
    }
    if (field->boost_frames > 0 && echo->C_ey < kBoostLeak * echo->C_yy)
        echo->C_ey = kBoostLeak * echo->C_yy;
}

} // namespace ostrel
