// Fast recovery of field mode after an echo-path change.
//
// The canceller scales its step by its leak estimate, which moves slowly, so
// after a path change it keeps adapting cautiously for seconds. A change shows
// as a drop of the frame ERLE well below its recent level while the output is
// coherent with the reference; near-end speech also lowers the ERLE but is not
// coherent with the reference, so double talk does not trigger. While the
// condition holds (and 25 frames after), the leak estimate is held at least
// at one half, which gives the largest steps the canceller's rule allows.
#include <math.h>

#include "field_state.h"

namespace ostrel {

namespace {

constexpr float kFarActivePower = 2.0f;
constexpr float kTriggerCoherence = 0.3f;
constexpr float kTriggerDropDb = 8.0f;
constexpr int32_t kHoldFrames = 25;
constexpr float kBoostLeak = 0.5f;

}  // namespace

void recovery_update(FieldState *field, EchoState *echo) {
  if (field->far_power <= kFarActivePower) {
    if (field->boost_frames > 0) field->boost_frames -= 1;
    return;
  }
  float mic = 1.0f, out = 1.0f;
  for (int32_t k = 0; k < kFieldBins; ++k) {
    mic += field->S_mm[k];
    out += field->S_ee[k];
  }
  const float erle = 4.3429448f * logf(mic / out);
  field->erle_fast += 0.3f * (erle - field->erle_fast);
  const bool dropped = field->erle_fast < field->erle_slow - kTriggerDropDb;
  if (dropped && field->coherence_xe > kTriggerCoherence && filter_ready(field, echo)) {
    field->boost_frames = kHoldFrames;
  } else if (field->boost_frames > 0) {
    field->boost_frames -= 1;
  }
  // The reference level sinks slowly while boosting, so a new path that is
  // harder to cancel ends the boost after a few seconds.
  const float follow = field->boost_frames > 0 ? 0.005f : 0.02f;
  field->erle_slow += follow * (field->erle_fast - field->erle_slow);
  if (field->boost_frames > 0 && echo->C_ey < kBoostLeak * echo->C_yy)
    echo->C_ey = kBoostLeak * echo->C_yy;
}

}  // namespace ostrel
