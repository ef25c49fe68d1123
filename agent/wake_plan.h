// When the service's worker runs its next cycle, and why: the poll, a reload,
// an address change, a resume, a retry after a change found no network, or
// the re-assertion of an address the server has not confirmed for a while.
// Pure timing logic over a millisecond clock the caller passes in, so every
// path (settle, coalescing, back-off) runs without the system.
#pragma once

#include <cstddef>

enum wake_cause : unsigned {
  WAKE_POLL = 1,
  WAKE_RELOAD = 2,
  WAKE_NETWORK = 4,
  WAKE_RESUME = 8,
  WAKE_RETRY = 16,
  WAKE_START = 32,
  // The cycle sends the addition of the address again even when it looks
  // unchanged: other PCs sharing the token may have removed it.
  WAKE_REASSERT = 64,
};

enum class cycle_outcome {
  confirmed,  // the server accepted this PC's address
  reached,    // a public address was read (the addition, if any, failed)
  unreached,  // no network: a change-driven cycle is tried again
  skipped,    // nothing to do (not configured): restarts the poll only
};

class wake_plan {
 public:
  using ms = unsigned long long;

  // 0: re-assertion off. A new period counts from the last confirmation.
  void set_reassert_period(ms period) { reassert_period_ = period; }
  void reload_signalled(ms now);
  // An address change or a resume; each restarts the settle time.
  void change_signalled(ms now, wake_cause cause);
  // A reload is waiting for its settle time; its events stay set until taken.
  bool reload_pending() const { return reload_; }
  // Milliseconds from now until the next cycle is due; 0: due now.
  ms wait_ms(ms now) const;
  // The causes of the cycle due now (clears them); call when wait_ms is 0.
  // A change, resume or retry cycle re-asserts as well, when re-assertion is on.
  unsigned take(ms now);
  // A cycle (or the start-up sync, cause WAKE_START) has ended.
  void cycle_ended(ms now, unsigned causes, cycle_outcome outcome);

 private:
  ms due() const;
  ms reassert_due() const;

  ms poll_from_ = 0;     // the poll interval runs from the last cycle
  ms last_network_ = 0;  // cycles that used the network are spaced by the gap
  bool networked_ = false;
  bool reload_ = false;
  ms reload_at_ = 0;
  unsigned change_ = 0;  // WAKE_NETWORK / WAKE_RESUME seen since the last cycle
  ms change_at_ = 0;
  std::size_t retries_ = 0;  // retries already scheduled in this series
  bool retry_ = false;
  ms retry_at_ = 0;
  ms reassert_period_ = 0;
  ms confirmed_at_ = 0;
  bool reassert_failed_ = false;  // then the next one is due at the next poll
};
