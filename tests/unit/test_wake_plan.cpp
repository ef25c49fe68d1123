// When the worker's cycles run: a script of notices on a virtual clock, each
// cycle's time and causes read back as the worker would take them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "wake_plan.h"

namespace {
struct notice {
  unsigned long long at;
  unsigned cause;  // WAKE_RELOAD, WAKE_NETWORK or WAKE_RESUME
};
struct cycle {
  unsigned long long at;
  unsigned causes;
};

// Runs the plan from a start-up sync at 0 until `until`; the cycles listed in
// `unreached` (by their number: -1 the start, then from 0) find no network.
std::vector<cycle> run(const std::vector<notice>& notices, unsigned long long until, const std::vector<int>& unreached) {
  auto outcome = [&](int n) {
    bool missed = std::find(unreached.begin(), unreached.end(), n) != unreached.end();
    return missed ? cycle_outcome::unreached : cycle_outcome::reached;
  };
  wake_plan plan;
  plan.cycle_ended(0, WAKE_START, outcome(-1));
  std::vector<cycle> cycles;
  size_t next = 0;
  unsigned long long now = 0;
  while (now <= until) {
    unsigned long long due = now + plan.wait_ms(now);
    if (next < notices.size() && notices[next].at <= due) {
      now = notices[next].at;
      // A reload's events are not watched while it waits for its settle.
      if (notices[next].cause != WAKE_RELOAD)
        plan.change_signalled(now, static_cast<wake_cause>(notices[next].cause));
      else if (!plan.reload_pending())
        plan.reload_signalled(now);
      ++next;
      continue;
    }
    now = due;
    if (now > until) break;
    unsigned causes = plan.take(now);
    plan.cycle_ended(now, causes, outcome(static_cast<int>(cycles.size())));
    cycles.push_back({now, causes});
  }
  return cycles;
}

std::string text(const std::vector<cycle>& cycles) {
  std::string out;
  for (const cycle& c : cycles) out += std::to_string(c.at) + ":" + std::to_string(c.causes) + " ";
  return out;
}
}  // namespace

TEST(wake_plan, notices_settle_share_the_gap_and_back_off) {
  struct row {
    const char* what;
    std::vector<notice> notices;
    unsigned long long until;
    std::vector<cycle> expected;
    std::vector<int> unreached = {};
  } rows[] = {
      {"a poll, found network or not, is only polled again", {}, 130000, {{60000, WAKE_POLL}, {120000, WAKE_POLL}}, {0}},
      {"a burst of changes: one cycle 2 s after the last",
       {{20000, WAKE_NETWORK}, {20500, WAKE_NETWORK}, {21500, WAKE_NETWORK}},
       60000,
       {{23500, WAKE_NETWORK}}},
      {"a change right after a cycle waits for the gap", {{1000, WAKE_NETWORK}}, 10000, {{5000, WAKE_NETWORK}}},
      {"a reload during a change's settle: one cycle serves both, the poll runs from it",
       {{30000, WAKE_NETWORK}, {31000, WAKE_RELOAD}, {31100, WAKE_RELOAD}},
       100000,
       {{32000, WAKE_NETWORK | WAKE_RELOAD}, {92000, WAKE_POLL}}},
      {"a resume and a change close together",
       {{40000, WAKE_RESUME}, {41000, WAKE_NETWORK}},
       50000,
       {{43000, WAKE_RESUME | WAKE_NETWORK}}},
      {"changes every second can't hold off the poll",
       [] {
         std::vector<notice> flood;
         for (unsigned long long t = 10000; t < 70000; t += 1000) flood.push_back({t, WAKE_NETWORK});
         return flood;
       }(),
       61000,
       {{60000, WAKE_NETWORK | WAKE_POLL}}},
      {"a change that finds no network: retries 5, 10, 20 s apart, then the poll 60 s after the last",
       {{10000, WAKE_NETWORK}},
       110000,
       {{12000, WAKE_NETWORK}, {17000, WAKE_RETRY}, {27000, WAKE_RETRY}, {47000, WAKE_RETRY}, {107000, WAKE_POLL}},
       {0, 1, 2, 3}},
      {"the first retry reaches it: the series ends",
       {{10000, WAKE_NETWORK}},
       80000,
       {{12000, WAKE_NETWORK}, {17000, WAKE_RETRY}, {77000, WAKE_POLL}},
       {0}},
      {"a start that found none (boot, before the network) is tried again soon", {}, 6000, {{5000, WAKE_RETRY}}, {-1}},
      {"a new change during the series starts it again, after its own settle",
       {{10000, WAKE_NETWORK}, {20000, WAKE_NETWORK}},
       30000,
       {{12000, WAKE_NETWORK}, {17000, WAKE_RETRY}, {22000, WAKE_NETWORK}, {27000, WAKE_RETRY}},
       {0, 1, 2}},
  };
  for (const row& r : rows) EXPECT_EQ(text(run(r.notices, r.until, r.unreached)), text(r.expected)) << r.what;
}
