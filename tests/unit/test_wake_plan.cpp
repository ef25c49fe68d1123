// When the worker's cycles run: a script of notices on a virtual clock, each
// cycle's time and causes read back as the worker would take them.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "wake_plan.h"

namespace {
// Timelines in seconds, one event per word: "20.5:n" at 20.5 s. Causes: p poll,
// l reload, n address change, r resume, t retry, s the start-up sync at 0; a
// cycle marked "-" finds no network.
constexpr char CAUSES[] = "plnrts";

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

// Runs the plan from the start-up sync until `until` seconds; each cycle finds
// the network or not as `expected` marks it at the same place.
std::string run(const std::string& notices_text, double until, const std::string& expected) {
  std::vector<event> notices = parse(notices_text), marks = parse(expected);
  auto missed = [&](size_t n) { return n < marks.size() && marks[n].missed; };
  wake_plan plan;
  plan.cycle_ended(0, WAKE_START, missed(0) ? cycle_outcome::unreached : cycle_outcome::reached);
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
    plan.cycle_ended(now, causes, missed(count) ? cycle_outcome::unreached : cycle_outcome::reached);
    cycles += " " + format({now, causes, missed(count++)});
  }
}
}  // namespace

TEST(wake_plan, notices_settle_share_the_gap_and_back_off) {
  std::string flood;
  for (int t = 10; t < 70; ++t) flood += std::to_string(t) + ":n ";
  const struct {
    const char* what;
    std::string notices;
    double until;
    std::string expected;
  } rows[] = {
      {"a poll, found network or not, is only polled again", "", 130, "0:s 60:p- 120:p"},
      {"a burst of changes: one cycle 2 s after the last", "20:n 20.5:n 21.5:n", 60, "0:s 23.5:n"},
      {"a change right after a cycle waits for the gap", "1:n", 10, "0:s 5:n"},
      {"a reload during a change's settle: one cycle for both, the poll from it", "30:n 31:l 31.1:l", 100,
       "0:s 32:ln 92:p"},
      {"changes every second can't hold off the poll", flood, 61, "0:s 60:pn"},
      {"a change that finds no network: retries 5, 10, 20 s apart, then the poll", "10:n", 110,
       "0:s 12:n- 17:t- 27:t- 47:t- 107:p"},
      {"the first retry reaches it: the series ends", "10:n", 80, "0:s 12:n- 17:t 77:p"},
      {"a start that found none (boot, before the network) is tried again soon", "", 6, "0:s- 5:t"},
      {"a new change during the series starts it again, after its own settle", "10:n 20:n", 30,
       "0:s 12:n- 17:t- 22:n- 27:t"},
  };
  for (const auto& row : rows) EXPECT_EQ(run(row.notices, row.until, row.expected), row.expected) << row.what;
}
