#include "event_log.h"

#include <algorithm>
#include <cwchar>
#include <mutex>
#include <utility>

#include "data_folder.h"
#include "handles.h"
#include "service_log.h"
#include "service_names.h"
#include "text.h"

namespace {
constexpr size_t REASON_CAPACITY = 2048;
constexpr size_t INSERTS_MAX = 2;
// Refused files reported per service run; more are in service.log only.
constexpr size_t REFUSALS_REPORTED_MAX = 8;

event_source source;
// Used by the worker's registrations only.
bool registrations_failing = false;

std::mutex refusals_lock;
wchar_t refusals[REFUSALS_REPORTED_MAX][PATH_CAPACITY];
size_t refusal_count = 0;

// The severity bits of a message id as the event type Event Viewer shows.
WORD event_type(DWORD id) {
  constexpr WORD TYPES[] = {EVENTLOG_SUCCESS, EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE,
                            EVENTLOG_ERROR_TYPE};
  return TYPES[id >> 30];
}

// True the first time path is refused in this run (and while there is room).
bool first_refusal(const wchar_t* path) {
  std::lock_guard lock(refusals_lock);
  for (size_t i = 0; i < refusal_count; ++i)
    if (std::wcscmp(refusals[i], path) == 0) return false;
  if (refusal_count == REFUSALS_REPORTED_MAX) return false;
  copy_bounded(refusals[refusal_count++], PATH_CAPACITY, path);
  return true;
}

void report_refusal(const wchar_t* path, const char* why) {
  wchar_t reason[REASON_CAPACITY];
  utf8_to_wide(why, -1, reason, REASON_CAPACITY);
  report_event(EVENT_DATA_FOLDER_REFUSED, {path, reason});
}
}  // namespace

void open_event_log() {
  source.reset(RegisterEventSourceW(nullptr, EVENT_SOURCE_NAME));
}

void report_event(const service_event& event, std::initializer_list<const wchar_t*> inserts) {
  if (!source || inserts.size() != event.inserts || inserts.size() > INSERTS_MAX) return;
  const wchar_t* texts[INSERTS_MAX] = {};
  std::copy(inserts.begin(), inserts.end(), texts);
  ReportEventW(source.get(), event_type(event.id), 0, event.id, nullptr, event.inserts, 0, texts, nullptr);
}

const service_event* registration_event(bool succeeded, bool& failing, const service_event* done) {
  bool was_failing = std::exchange(failing, !succeeded);
  if (succeeded) return was_failing ? &EVENT_REGISTRATION_RECOVERED : done;
  return was_failing ? nullptr : &EVENT_REGISTRATION_FAILED;
}

void report_registration(bool succeeded, const service_event* done, const wchar_t* ip, const char* reason) {
  const service_event* event = registration_event(succeeded, registrations_failing, done);
  if (!event) return;
  wchar_t why[REASON_CAPACITY];
  utf8_to_wide(reason, -1, why, REASON_CAPACITY);
  if (event->inserts == 2)
    report_event(*event, {ip, why});
  else
    report_event(*event, {ip});
}

void report_refused_file(const wchar_t* path, const char* why) {
  log_refused_file(path, why);
  if (first_refusal(path)) report_refusal(path, why);
}

void report_unsecured_folder(const char* why) {
  service_log("Data folder not secured: %s", why);
  wchar_t folder[PATH_CAPACITY];
  if (data_folder_path(folder, PATH_CAPACITY)) report_refusal(folder, why);
}
