// When the worker's cycles run: a script of notices on a virtual clock, each
// cycle's time and causes read back as the worker would take them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "wake_plan.h"

namespace {
// Timelines in seconds, one event per word: "20.5:n" at 20.5 s. Causes: p poll, l reload, n address change,
// r resume, t retry, s the start-up sync at 0, a re-assertion (confirmed by the server, as a start is, when
// it finds the network); a cycle marked "-" finds no network.
constexpr char CAUSES[] = "plnrtsa";

struct event {
  wake_plan::ms at;
  unsigned causes;
  bool missed;
};

std::vector<event> parse(const std::string& timeline) {
  std::vector<event> events;
  std::istringstream words(timeline);
  for (std::string word; words >> word;) {
    event e{static_cast<wake_plan::ms>(std::stod(word) * 1000 + 0.5), 0, word.back() == '-'};
    for (char c : word.substr(word.find(':') + 1))
      if (c != '-') e.causes |= 1u << std::string(CAUSES).find(c);
    events.push_back(e);
  }
  return events;
}

std::string format(const event& e) {
  std::ostringstream word;
  word << e.at / 1000.0 << ':';
  for (int bit = 0; CAUSES[bit]; ++bit)
    if (e.causes & (1u << bit)) word << CAUSES[bit];
  if (e.missed) word << '-';
  return word.str();
}

// Runs the plan, re-asserting every `reassert` s (0: never), from the start-up sync until `until` s; each
// cycle finds the network or not as `expected` marks it at the same place.
std::string run(double reassert, const std::string& notices_text, double until, const std::string& expected) {
  std::vector<event> notices = parse(notices_text), marks = parse(expected);
  auto missed = [&](size_t n) { return n < marks.size() && marks[n].missed; };
  auto outcome = [&](size_t n, unsigned causes) {
    if (missed(n)) return cycle_outcome::unreached;
    return causes & (WAKE_START | WAKE_REASSERT) ? cycle_outcome::confirmed : cycle_outcome::reached;
  };
  wake_plan plan;
  plan.set_reassert_period(static_cast<wake_plan::ms>(reassert * 1000));
  plan.cycle_ended(0, WAKE_START, outcome(0, WAKE_START));
  std::string cycles = format({0, WAKE_START, missed(0)});
  size_t next = 0, count = 1;
  for (wake_plan::ms now = 0;;) {
    wake_plan::ms due = now + plan.wait_ms(now);
    if (next < notices.size() && notices[next].at <= due) {
      now = notices[next].at;
      // A reload's events are not watched while it waits for its settle.
      if (notices[next].causes != WAKE_RELOAD)
        plan.change_signalled(now, static_cast<wake_cause>(notices[next].causes));
      else if (!plan.reload_pending())
        plan.reload_signalled(now);
      ++next;
      continue;
    }
    if ((now = due) > until * 1000) return cycles;
    unsigned causes = plan.take(now);
    plan.cycle_ended(now, causes, outcome(count, causes));
    cycles += " " + format({now, causes, missed(count++)});
  }
}
}  // namespace

TEST(wake_plan, notices_settle_share_the_gap_back_off_and_reassert) {
  std::string flood;
  for (int t = 10; t < 70; ++t) flood += std::to_string(t) + ":n ";
  const struct {
    const char* what;
    double reassert;
    std::string notices;
    double until;
    std::string expected;
  } rows[] = {
      {"a poll, found network or not, is only polled again; re-assertion once a period, a gap after a cycle",
       90, "87:l", 200, "0:s 60:p- 88:l 93:a 153:p 183:a"},
      {"a burst of changes: one cycle 2 s after the last; change and resume re-assert, the period from them",
       90, "20:n 20.5:n 21.5:n 100:r", 110, "0:s 23.5:na 83.5:p 102:ra"},
      {"a change right after a cycle waits for the gap", 0, "1:n", 10, "0:s 5:n"},
      {"a reload in a change's settle: one cycle for both, the poll and period from it; also with all due",
       60, "30:n 31:l 31.1:l 91.5:l", 100, "0:s 32:lna 92:pla"},
      {"changes every second can't hold off the poll", 0, flood, 61, "0:s 60:pn"},
      {"a change that finds no network: retries 5, 10, 20 s apart, then the poll", 0, "10:n", 110,
       "0:s 12:n- 17:t- 27:t- 47:t- 107:p"},
      {"the first retry reaches it: the series ends", 0, "10:n", 80, "0:s 12:n- 17:t 77:p"},
      {"a start that found none (boot, before the network) is tried again soon", 0, "", 6, "0:s- 5:t"},
      {"a new change during the series starts it again, after its own settle", 0, "10:n 20:n", 30,
       "0:s 12:n- 17:t- 22:n- 27:t"},
      {"a failed re-assertion waits for the next poll", 30, "", 125, "0:s 30:a- 90:pa 120:a"},
  };
  for (const auto& r : rows) EXPECT_EQ(run(r.reassert, r.notices, r.until, r.expected), r.expected) << r.what;
}
