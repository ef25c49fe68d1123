// At most one status refresh at a time; a request that meets a running one is
// remembered (with its reload wish) and started once the running one has been
// shown, so the picture after a sync is never the stale one. Flags change only
// by atomic exchange and compare-exchange.
#pragma once

#include <atomic>

class refresh_gate {
 public:
  // True when this caller may start a refresh; otherwise the request is kept.
  bool try_begin(bool reload) noexcept {
    long idle = 0;
    if (busy_.compare_exchange_strong(idle, 1)) return true;
    if (reload) queued_reload_.exchange(1);
    queued_.exchange(1);
    return false;
  }

  // The running refresh has ended (shown, or dropped by its worker).
  void finish() noexcept { busy_.exchange(0); }

  // A request kept while the last one ran; reload is what it asked for.
  bool take_queued(bool& reload) noexcept {
    if (queued_.exchange(0) == 0) return false;
    reload = queued_reload_.exchange(0) != 0;
    return true;
  }

  bool busy() const noexcept { return busy_.load() != 0; }

 private:
  std::atomic<long> busy_{0};
  std::atomic<long> queued_{0};
  std::atomic<long> queued_reload_{0};
};
