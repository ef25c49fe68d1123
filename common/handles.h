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

struct kernel_handle_traits {  // events, mutexes, threads, processes
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};

struct file_handle_traits {  // CreateFileW reports failure as INVALID_HANDLE_VALUE
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer h) noexcept { CloseHandle(h); }
};

struct service_handle_traits {
  using pointer = SC_HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { CloseServiceHandle(h); }
};

struct local_memory_traits {
  using pointer = HLOCAL;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { LocalFree(h); }
};

struct global_memory_traits {  // strings WinHTTP hands over to be freed
  using pointer = HGLOBAL;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { GlobalFree(h); }
};

struct co_task_string_traits {  // strings the shell allocates, e.g. SHGetKnownFolderPath
  using pointer = wchar_t*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer p) noexcept { CoTaskMemFree(p); }
};

struct bcrypt_algorithm_traits {
  using pointer = BCRYPT_ALG_HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};

struct bcrypt_key_traits {
  using pointer = BCRYPT_KEY_HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { BCryptDestroyKey(h); }
};

struct event_source_traits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer h) noexcept { DeregisterEventSource(h); }
};

using kernel_handle = unique_handle<kernel_handle_traits>;
using file_handle = unique_handle<file_handle_traits>;
using service_handle = unique_handle<service_handle_traits>;
using local_memory = unique_handle<local_memory_traits>;
using global_memory = unique_handle<global_memory_traits>;
using co_task_string = unique_handle<co_task_string_traits>;
using bcrypt_algorithm = unique_handle<bcrypt_algorithm_traits>;
using bcrypt_key = unique_handle<bcrypt_key_traits>;
using event_source = unique_handle<event_source_traits>;
