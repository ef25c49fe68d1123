// The service's reports to the Application event log under the source
// "QORWhitelistIPUpdater"; whitelist.exe carries their message table
// (event_messages.mc), which the installers register. Reporting never holds
// up or fails the service: without a registered source Windows still logs
// the event (without its sentence), and a report that fails is dropped.
#pragma once

#include <windows.h>

#include <initializer_list>

#include "event_messages.h"

// An event: its id, with the severity in its top two bits as the message
// table has it, and how many texts its message inserts.
struct service_event {
  DWORD id;
  WORD inserts;
};
inline constexpr service_event EVENT_SERVICE_STARTED{MSG_SERVICE_STARTED, 0};
inline constexpr service_event EVENT_SERVICE_STOPPED{MSG_SERVICE_STOPPED, 0};
inline constexpr service_event EVENT_ADDRESS_REGISTERED{MSG_ADDRESS_REGISTERED, 1};
inline constexpr service_event EVENT_ADDRESS_CHANGED{MSG_ADDRESS_CHANGED, 1};
inline constexpr service_event EVENT_REGISTRATION_FAILED{MSG_REGISTRATION_FAILED, 2};
inline constexpr service_event EVENT_REGISTRATION_RECOVERED{MSG_REGISTRATION_RECOVERED, 1};
inline constexpr service_event EVENT_DATA_FOLDER_REFUSED{MSG_DATA_FOLDER_REFUSED, 2};
// Every event the service reports.
inline constexpr service_event SERVICE_EVENTS[] = {
    EVENT_SERVICE_STARTED,     EVENT_SERVICE_STOPPED,        EVENT_ADDRESS_REGISTERED,  EVENT_ADDRESS_CHANGED,
    EVENT_REGISTRATION_FAILED, EVENT_REGISTRATION_RECOVERED, EVENT_DATA_FOLDER_REFUSED,
};

// At the service's start, before anything is reported; kept until the
// process ends.
void open_event_log();
// inserts: the event's texts, as many as it takes.
void report_event(const service_event& event, std::initializer_list<const wchar_t*> inserts = {});
// The event of a registration's outcome: done (registered or changed; null
// for none) on success; a failure warns once per streak of failures
// (failing tells and keeps whether the last one failed), and the streak's
// end is a recovery instead of done. nullptr: nothing to report.
const service_event* registration_event(bool succeeded, bool& failing, const service_event* done);
// The service worker's registrations, reported so.
void report_registration(bool succeeded, const service_event* done, const wchar_t* ip, const char* reason);
// For the state-file guard: the log line every time, the error event once per
// refused file and service run.
void report_refused_file(const wchar_t* path, const char* why);
// The data folder could not be secured at the start: the log line and the
// error event.
void report_unsecured_folder(const char* why);
