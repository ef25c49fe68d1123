#include "wake_plan.h"

#include <algorithm>
#include <iterator>

#include "agent_constants.h"

void wake_plan::reload_signalled(ms now) {
  if (reload_) return;  // the burst's first set counts; the rest join it
  reload_ = true;
  reload_at_ = now;
}

void wake_plan::change_signalled(ms now, wake_cause cause) {
  change_ |= cause;
  change_at_ = now;
  retry_ = false;  // a new change starts a new series of retries
  retries_ = 0;
}

wake_plan::ms wake_plan::due() const {
  ms poll = poll_from_ + POLL_INTERVAL_MS;
  bool asked = reload_ || change_ || retry_;
  if (!asked) return poll;
  // Every asked-for cycle waits for all its settle times: the cycle that
  // follows a reload and a change at once serves both.
  // A retry's own time counts only when nothing newer asked.
  ms at = 0;
  if (reload_) at = std::max(at, reload_at_ + RELOAD_SETTLE_MS);
  if (change_) at = std::max(at, change_at_ + CHANGE_SETTLE_MS);
  if (!reload_ && !change_) at = retry_at_;
  // At most one network cycle per gap, whatever wakes it.
  if (networked_) at = std::max(at, last_network_ + RELOAD_CYCLE_GAP_MS);
  return std::min(at, poll);
}

wake_plan::ms wake_plan::wait_ms(ms now) const {
  ms at = due();
  return at > now ? at - now : 0;
}

unsigned wake_plan::take(ms now) {
  unsigned causes = 0;
  if (reload_) causes |= WAKE_RELOAD;
  causes |= change_;
  if (retry_) causes |= WAKE_RETRY;
  if (!causes || now >= poll_from_ + POLL_INTERVAL_MS) causes |= WAKE_POLL;
  reload_ = false;
  change_ = 0;
  retry_ = false;
  return causes;
}

void wake_plan::cycle_ended(ms now, unsigned causes, cycle_outcome outcome) {
  poll_from_ = now;
  if (outcome == cycle_outcome::skipped) return;
  networked_ = true;
  last_network_ = now;
  if (outcome == cycle_outcome::reached) {
    retries_ = 0;
    return;
  }
  // A start, a change or a retry that found no network: the network may be
  // coming up, so it is tried again soon a few times; a plain poll is not.
  if (!(causes & (WAKE_START | WAKE_NETWORK | WAKE_RESUME | WAKE_RETRY))) return;
  if (!(causes & WAKE_RETRY)) retries_ = 0;
  if (retries_ >= std::size(CHANGE_RETRY_MS)) return;
  retry_ = true;
  retry_at_ = now + CHANGE_RETRY_MS[retries_++];
}
