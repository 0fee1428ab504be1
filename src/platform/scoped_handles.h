// Guards that own a platform handle and close it when they go out of scope, on every path out of
// the function that opened it, an exception included.
#pragma once

#include "platform/platform.h"

namespace platform {

// Owns a handle of type `Handle` that counts as open unless it equals `Traits::Invalid()`, and
// closes it with `Traits::Close`.
template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { Reset(); }

  bool IsValid() const { return handle_ != Traits::Invalid(); }
  Handle Get() const { return handle_; }
  void Reset() {
    if (IsValid()) Traits::Close(handle_);
    handle_ = Traits::Invalid();
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle key) { RegCloseKey(key); }
};

struct LocalFileTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle file) { CloseHandle(file); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { LocalFree(memory); }
};

using ScopedRegKey = ScopedHandle<RegKeyTraits>;
using ScopedLocalFile = ScopedHandle<LocalFileTraits>;
using ScopedLocalMemory = ScopedHandle<LocalMemoryTraits>;

}  // namespace platform
