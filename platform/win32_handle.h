// One owner for every kind of Win32 handle, so that every path out of a function releases it.
#pragma once

#include <windows.h>

namespace tessaro::platform {

// Owns a handle of type T and frees it with Close when it goes. Null and INVALID_HANDLE_VALUE
// both mean "none": CreateFile and FindFirstFile report failure with the latter, most other
// calls with null.
template <typename T, void (*Close)(T)>
class UniqueOwner {
 public:
  UniqueOwner() = default;
  explicit UniqueOwner(T handle) : handle_(handle) {}
  ~UniqueOwner() { reset(); }
  UniqueOwner(UniqueOwner&& other) noexcept : handle_(other.release()) {}
  UniqueOwner& operator=(UniqueOwner&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  UniqueOwner(const UniqueOwner&) = delete;
  UniqueOwner& operator=(const UniqueOwner&) = delete;

  T get() const { return handle_; }
  bool valid() const {
    return handle_ != nullptr && handle_ != reinterpret_cast<T>(INVALID_HANDLE_VALUE);
  }
  // For calls that hand a new handle back through a pointer; whatever was owned is freed first.
  T* receive() {
    reset();
    return &handle_;
  }
  T release() {
    T handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void reset() {
    if (valid()) Close(handle_);
    handle_ = nullptr;
  }

 private:
  T handle_ = nullptr;
};

inline void CloseKernelHandle(HANDLE handle) { CloseHandle(handle); }
inline void CloseRegistryKey(HKEY key) { RegCloseKey(key); }

using UniqueHandle = UniqueOwner<HANDLE, CloseKernelHandle>;
using UniqueRegistryKey = UniqueOwner<HKEY, CloseRegistryKey>;

}  // namespace tessaro::platform
