// A run that may exist once at a time (a sync, a download): claimed with a
// compare-exchange from 0 to 1, released with an exchange to 0.
#pragma once

#include <atomic>

class busy_flag {
 public:
  bool claim() noexcept {
    long idle = 0;
    return value_.compare_exchange_strong(idle, 1);
  }
  void release() noexcept { value_.exchange(0); }
  bool busy() const noexcept { return value_.load() != 0; }

 private:
  std::atomic<long> value_{0};
};
