// One RAII owner for every kind of Win32 handle: a close trait per kind.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <objbase.h>

#include <utility>

template <typename Traits>
class unique_handle {
 public:
  using pointer = typename Traits::pointer;

  unique_handle() noexcept = default;
  explicit unique_handle(pointer value) noexcept : value_(value) {}
  ~unique_handle() { reset(); }

  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  explicit operator bool() const noexcept { return value_ != Traits::invalid(); }
  pointer get() const noexcept { return value_; }

  // For out-parameters of creating calls; drops what was held first.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

  void reset(pointer value = Traits::invalid()) noexcept {
    if (value_ != Traits::invalid()) Traits::close(value_);
    value_ = value;
  }

 private:
  pointer value_ = Traits::invalid();
};

// The close trait of one kind: its type, the call that closes it and the
// value that means none.
template <typename P, auto Close, P Invalid = nullptr>
struct close_traits {
  using pointer = P;
  static pointer invalid() noexcept { return Invalid; }
  static void close(pointer h) noexcept { Close(h); }
};

// CreateFileW reports failure as INVALID_HANDLE_VALUE, which is no constant.
struct file_handle_traits : close_traits<HANDLE, CloseHandle> {
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

inline void close_algorithm_provider(BCRYPT_ALG_HANDLE h) noexcept {
  BCryptCloseAlgorithmProvider(h, 0);
}

using kernel_handle =
    unique_handle<close_traits<HANDLE, CloseHandle>>;  // events, mutexes, threads, processes
using file_handle = unique_handle<file_handle_traits>;
using service_handle = unique_handle<close_traits<SC_HANDLE, CloseServiceHandle>>;
using local_memory = unique_handle<close_traits<HLOCAL, LocalFree>>;
using global_memory =
    unique_handle<close_traits<HGLOBAL, GlobalFree>>;  // strings WinHTTP hands over to be freed
// Strings the shell allocates, e.g. SHGetKnownFolderPath.
using co_task_string = unique_handle<close_traits<wchar_t*, CoTaskMemFree>>;
using bcrypt_algorithm = unique_handle<close_traits<BCRYPT_ALG_HANDLE, close_algorithm_provider>>;
using bcrypt_key = unique_handle<close_traits<BCRYPT_KEY_HANDLE, BCryptDestroyKey>>;
using event_source = unique_handle<close_traits<HANDLE, DeregisterEventSource>>;
