// Test tool: pokes the running agent service the way other programs do.
//   service_control event [N]    sets the reload event (N times, as fast as
//                                it can: a burst)
//   service_control hold S       takes the agent's registration mutex, prints
//                                "held" and keeps it for S seconds
//   service_control control N    sends control code N with ControlService
//   service_control cycles N [S] sets the reload event N times, each time
//                                waiting until the service has taken it
//                                (which it does between two poll cycles),
//                                at most S seconds each (default 120)
//   service_control stats        prints "pid=P handles=H working_set=W" of the
//                                running service, seen from another process
//   service_control security     prints the reload event's owner and DACL as SDDL
// Exit 0 on success, else the system error code, which is also printed to
// stderr: a failure without that line means the program never ran (Wine
// could not start it). `sc control` can't send user-defined codes under Wine.
#include <windows.h>

#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

#include "agent_constants.h"
#include "folder_security.h"
#include "handles.h"
#include "service_names.h"
#include "shared_objects.h"

namespace {
int failed(const char* what, DWORD code) {
  std::fprintf(stderr, "service_control: %s failed: %lu\n", what, code);
  return static_cast<int>(code);
}

int failed(const char* what) { return failed(what, GetLastError()); }

int run_cycles(unsigned long count, unsigned long bound_seconds) {
  kernel_handle event(OpenEventW(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, RELOAD_EVENT_NAME));
  if (!event) return failed("OpenEventW");
  for (unsigned long i = 0; i < count; ++i) {
    if (!SetEvent(event.get())) return failed("SetEvent");
    // The service resets the event when it reloads; a bound against a hang.
    ULONGLONG deadline = GetTickCount64() + bound_seconds * 1000ULL;
    while (WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0) {
      if (GetTickCount64() > deadline) return failed("waiting for the reload", WAIT_TIMEOUT);
      Sleep(1);
    }
  }
  return 0;
}

// GetProcessHandleCount of another process gives 0 under Wine; the system's
// handle table is filled by wineserver and counts them.
struct handle_entry {
  USHORT process_id;
  USHORT back_trace_index;
  UCHAR object_type;
  UCHAR attributes;
  USHORT value;
  PVOID object;
  ULONG granted_access;
};
struct handle_table {
  ULONG count;
  handle_entry entries[1];
};
using query_system_fn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG SYSTEM_HANDLE_INFORMATION = 16;
constexpr LONG STATUS_INFO_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004);

long count_handles(DWORD pid) {
  auto query = reinterpret_cast<query_system_fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return -1;
  std::vector<unsigned char> buffer(1 << 16);
  LONG status;
  ULONG needed = 0;
  while ((status = query(SYSTEM_HANDLE_INFORMATION, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
         STATUS_INFO_LENGTH_MISMATCH)
    buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
  if (status < 0) return -1;
  const auto* table = reinterpret_cast<const handle_table*>(buffer.data());
  long count = 0;
  for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].process_id == static_cast<USHORT>(pid);
  return count;
}

int print_stats() {
  service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return failed("OpenSCManagerW");
  service_handle service(OpenServiceW(manager.get(), SERVICE_NAME, SERVICE_QUERY_STATUS));
  SERVICE_STATUS_PROCESS state{};
  DWORD needed = 0;
  if (!service || !QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&state),
                                        sizeof state, &needed))
    return failed("QueryServiceStatusEx");
  if (state.dwCurrentState != SERVICE_RUNNING || state.dwProcessId == 0)
    return failed("finding the running service", ERROR_SERVICE_NOT_ACTIVE);
  kernel_handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, state.dwProcessId));
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  if (!process || !K32GetProcessMemoryInfo(process.get(), &memory, sizeof memory))
    return failed("reading the service's memory counters");
  long handles = count_handles(state.dwProcessId);
  if (handles <= 0) return failed("counting the service's handles", ERROR_NOT_SUPPORTED);
  std::printf("pid=%lu handles=%ld working_set=%llu\n", state.dwProcessId, handles,
              static_cast<unsigned long long>(memory.WorkingSetSize));
  return 0;
}
int print_event_security() {
  kernel_handle event(OpenEventW(READ_CONTROL, FALSE, RELOAD_EVENT_NAME));
  if (!event) return failed("OpenEventW");
  constexpr SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  PSECURITY_DESCRIPTOR raw = nullptr;
  DWORD error = GetSecurityInfo(event.get(), SE_KERNEL_OBJECT, parts, nullptr, nullptr, nullptr, nullptr, &raw);
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
  if ((argc == 2 || (argc == 3 && std::iswdigit(argv[2][0]))) && std::wcscmp(argv[1], L"event") == 0) {
    kernel_handle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, RELOAD_EVENT_NAME));
    if (!event) return failed("OpenEventW");
    unsigned long count = argc == 3 ? std::wcstoul(argv[2], nullptr, 10) : 1;
    for (unsigned long i = 0; i < count; ++i) {
      if (!SetEvent(event.get())) return failed("SetEvent");
      Sleep(1);  // another set, not the same one twice
    }
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"hold") == 0 && std::iswdigit(argv[2][0])) {
    // Owned by Administrators, as an elevated command's: the service waits
    // only for a holder it trusts.
    local_memory descriptor = descriptor_from_sddl((std::wstring(L"O:BA") + SHARED_OBJECT_SDDL).c_str());
    if (!descriptor) return failed("ConvertStringSecurityDescriptorToSecurityDescriptorW");
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.get(), FALSE};
    kernel_handle mutex(CreateMutexW(&attributes, FALSE, REGISTRATION_MUTEX_NAME));
    if (!mutex) return failed("CreateMutexW");
    if (WaitForSingleObject(mutex.get(), 10000) != WAIT_OBJECT_0) return failed("taking the mutex", WAIT_TIMEOUT);
    std::puts("held");
    std::fflush(stdout);
    Sleep(std::wcstoul(argv[2], nullptr, 10) * 1000);
    ReleaseMutex(mutex.get());
    return 0;
  }
  if (argc == 3 && std::wcscmp(argv[1], L"control") == 0 && std::iswdigit(argv[2][0])) {
    DWORD code = std::wcstoul(argv[2], nullptr, 10);
    service_handle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return failed("OpenSCManagerW");
    service_handle service(OpenServiceW(manager.get(), SERVICE_NAME, SERVICE_USER_DEFINED_CONTROL));
    if (!service) return failed("OpenServiceW");
    SERVICE_STATUS status{};
    if (!ControlService(service.get(), code, &status)) return failed("ControlService");
    return 0;
  }
  if (argc == 2 && std::wcscmp(argv[1], L"stats") == 0) return print_stats();
  if (argc == 2 && std::wcscmp(argv[1], L"security") == 0) return print_event_security();
  if ((argc == 3 || (argc == 4 && std::iswdigit(argv[3][0]))) && std::wcscmp(argv[1], L"cycles") == 0 &&
      std::iswdigit(argv[2][0]))
    return run_cycles(std::wcstoul(argv[2], nullptr, 10), argc == 4 ? std::wcstoul(argv[3], nullptr, 10) : 120);
  std::fputs("usage: service_control event [<n>] | hold <seconds> | control <code> | cycles <n> [<seconds>] | stats"
             " | security\n", stderr);
  return 87;
}
