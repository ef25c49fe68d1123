#include "service_parameters.h"

#include <windows.h>

#include "build_settings.h"
#include "service_log.h"
#include "service_names.h"

unsigned long long reassert_period_ms() {
  DWORD seconds = 0;
  DWORD size = sizeof seconds;
  LSTATUS read = RegGetValueW(HKEY_LOCAL_MACHINE, SERVICE_PARAMETERS_KEY, REASSERT_SECONDS_VALUE,
                              RRF_RT_REG_DWORD, nullptr, &seconds, &size);
  if (read != ERROR_SUCCESS) {
    seconds = build_settings::REASSERT_SECONDS;
    // Missing is the usual case; anything else is a value someone set wrongly.
    if (read != ERROR_FILE_NOT_FOUND)
      service_log("ReassertSeconds is not a REG_DWORD (error %ld) - using %lu s", static_cast<long>(read),
                  seconds);
  }
  return seconds * 1000ULL;
}
