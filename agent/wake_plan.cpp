#include "wake_plan.h"

#include <algorithm>
#include <iterator>
#include <limits>

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

wake_plan::ms wake_plan::reassert_due() const {
  if (!reassert_period_) return std::numeric_limits<ms>::max();
  // Failing every few seconds would only load a server that is in trouble.
  if (reassert_failed_) return poll_from_ + POLL_INTERVAL_MS;
  return confirmed_at_ + reassert_period_;
}

wake_plan::ms wake_plan::due() const {
  ms poll = poll_from_ + POLL_INTERVAL_MS;
  ms reassert = reassert_due();
  bool asked = reload_ || change_ || retry_ || reassert < poll;
  if (!asked) return poll;
  // Every asked-for cycle waits for all its settle times: the cycle that
  // follows a reload and a change at once serves both.
  // A retry's or a re-assertion's own time counts only when nothing newer asked.
  ms at = 0;
  if (reload_) at = std::max(at, reload_at_ + RELOAD_SETTLE_MS);
  if (change_) at = std::max(at, change_at_ + CHANGE_SETTLE_MS);
  if (!reload_ && !change_) at = retry_ ? std::min(retry_at_, reassert) : reassert;
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
  // A PC back on a network it had left puts its address back at once.
  bool noticed = causes & (WAKE_NETWORK | WAKE_RESUME | WAKE_RETRY);
  if (reassert_period_ && (noticed || now >= reassert_due())) causes |= WAKE_REASSERT;
  if (!causes || now >= poll_from_ + POLL_INTERVAL_MS) causes |= WAKE_POLL;
  reload_ = false;
  change_ = 0;
  retry_ = false;
  return causes;
}

void wake_plan::cycle_ended(ms now, unsigned causes, cycle_outcome outcome) {
  poll_from_ = now;
  if (outcome == cycle_outcome::confirmed) {
    confirmed_at_ = now;
    reassert_failed_ = false;
  } else if (causes & WAKE_REASSERT || (causes & WAKE_START && outcome != cycle_outcome::skipped)) {
    // A start without settings has nothing to put back yet.
    reassert_failed_ = true;
  }
  if (outcome == cycle_outcome::skipped) return;
  networked_ = true;
  last_network_ = now;
  if (outcome != cycle_outcome::unreached) {
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
