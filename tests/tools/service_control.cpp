// Test tool: pokes the running agent service the way other programs do (verbs:
// the usage text at the end). Exit 0, else the system error code, also on stderr.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "handles.h"
#include "service_names.h"

namespace {
int failed(const char* what, DWORD code = GetLastError()) {
  std::fprintf(stderr, "service_control: %s failed: %lu\n", what, code);
  return static_cast<int>(code);
}

// With wait_each, each set (or, with none to make, the event as it is) waits until the service takes it.
int set_event(unsigned long count, bool wait_each) {
  kernel_handle event(OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, RELOAD_EVENT_NAME));
  if (!event) return failed("OpenEventW");
  for (unsigned long i = 0; i < count || (i == 0 && wait_each); ++i) {
    if (i < count && !SetEvent(event.get())) return failed("SetEvent");
    while (wait_each && WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0) Sleep(1);
    Sleep(1);  // another set, not the same one twice
  }
  return 0;
}

service_handle open_service(DWORD access) {
  service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  return service_handle(manager ? OpenServiceW(manager.get(), SERVICE_NAME, access) : nullptr);
}

// GetProcessHandleCount of another process gives 0 under Wine; the system's
// handle table is filled by wineserver and counts them.
long count_handles(DWORD pid) {
  auto query = reinterpret_cast<decltype(&NtQuerySystemInformation)>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  std::vector<unsigned char> buffer(1 << 22);  // far more than a test prefix's handles
  if (query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), nullptr) < 0)
    return -1;
  const auto* table = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < table->Count; ++i) count += table->Handle[i].OwnerPid == pid;
  return count;
}

int print_stats() {
  service_handle service = open_service(SERVICE_QUERY_STATUS);
  SERVICE_STATUS_PROCESS state{};
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO,
                                        reinterpret_cast<BYTE*>(&state), sizeof state, &needed))
    return failed("QueryServiceStatusEx");
  long handles = count_handles(state.dwProcessId);
  if (handles <= 0) return failed("counting the running service's handles", ERROR_NOT_SUPPORTED);
  std::printf("pid=%lu handles=%ld\n", state.dwProcessId, handles);
  return 0;
}

int print_event_security() {
  kernel_handle event(OpenEventW(READ_CONTROL, FALSE, RELOAD_EVENT_NAME));
  if (!event) return failed("OpenEventW");
  constexpr SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR raw = nullptr;
  DWORD error =
      GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, parts, nullptr, nullptr, nullptr, nullptr, &raw);
  if (error) return failed("GetSecurityInfo", error);
  local_memory descriptor(raw);
  wchar_t* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(raw, SDDL_REVISION_1, parts, &text, nullptr))
    return failed("ConvertSecurityDescriptorToStringSecurityDescriptorW");
  local_memory text_memory(text);
  std::printf("%ls\n", text);
  return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring verb = argc > 1 ? argv[1] : L"";
  unsigned long number = argc > 2 ? std::wcstoul(argv[2], nullptr, 10) : 1;
  if (verb == L"event" || verb == L"cycles") return set_event(number, verb == L"cycles");
  if (verb == L"control" && argc == 3) {  // `sc control` can't send user codes under Wine
    SERVICE_STATUS status{};
    service_handle service = open_service(SERVICE_USER_DEFINED_CONTROL);
    return service && ControlService(service.get(), number, &status) ? 0 : failed("ControlService");
  }
  if (verb == L"stats") return print_stats();
  if (verb == L"security") return print_event_security();
  std::fputs(
      "usage: service_control event [N] | cycles N (0: the wait alone) | control N | stats | security\n",
      stderr);
  return 87;
}
