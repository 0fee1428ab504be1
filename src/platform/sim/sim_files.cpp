// The running program's path and the simulated local file system: paths that compare without
// regard to ASCII letter case, relative paths taken against the current folder, files opened for
// reading only.
#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "platform/sim/sim_platform.h"
#include "platform/sim/sim_state.h"

namespace sim {
namespace detail {
namespace {

using platform::DWORD;

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}
bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool HasDrive(const std::string& path) {
  return path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':';
}

// Splits a path into its characters, a lead byte and the byte after it counting as one, so that
// the second byte of a double-byte character is never taken for a separator or folded.
template <typename Visit>
void ForEachCharacter(const std::string& path, Visit visit) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    const bool pair = IsActiveLeadByte(static_cast<unsigned char>(path[i])) && i + 1 < path.size();
    visit(path.substr(i, pair ? 2 : 1));
    if (pair) ++i;
  }
}

bool EndsWithSeparator(const std::string& path) {
  bool last = false;
  ForEachCharacter(path, [&](const std::string& c) { last = c.size() == 1 && IsSeparator(c[0]); });
  return last;
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return folder.empty() || EndsWithSeparator(folder) ? folder + name : folder + "\\" + name;
}

// The full path of `path` against the current folder.
std::string Resolve(const std::string& path) {
  const std::string& folder = Machine().currentFolder;
  const std::string folderDrive = HasDrive(folder) ? folder.substr(0, 2) : std::string();
  if (HasDrive(path)) {
    if (path.size() > 2 && IsSeparator(path[2])) return path;
    // "C:name" is relative to the current folder when that is on the same drive.
    const bool sameDrive = !folderDrive.empty() && (folderDrive[0] | 0x20) == (path[0] | 0x20);
    return sameDrive ? InFolder(folder, path.substr(2)) : path.substr(0, 2) + "\\" + path.substr(2);
  }
  if (!path.empty() && IsSeparator(path[0])) return folderDrive + path;
  return InFolder(folder, path);
}

// The form in which two full paths naming the same file are equal: ASCII letters folded, one
// backslash between parts, "." and ".." taken out.
std::string Canonical(const std::string& fullPath) {
  std::vector<std::string> parts;
  std::string part;
  const auto endPart = [&]() {
    if (part == "..") {
      if (parts.size() > 1) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    part.clear();
  };
  ForEachCharacter(fullPath, [&](const std::string& c) {
    if (c.size() == 1 && IsSeparator(c[0])) {
      endPart();
    } else if (c.size() == 1 && c[0] >= 'A' && c[0] <= 'Z') {
      part += static_cast<char>(c[0] - 'A' + 'a');
    } else {
      part += c;
    }
  });
  endPart();
  std::string joined;
  for (const std::string& p : parts) joined += (joined.empty() ? "" : "\\") + p;
  return joined;
}

std::vector<LocalFile>::iterator FindLocalFile(const std::string& path) {
  auto& files = Machine().localFiles;
  const std::string wanted = Canonical(Resolve(path));
  return std::find_if(files.begin(), files.end(),
                      [&](const LocalFile& file) { return Canonical(file.path) == wanted; });
}

LocalHandle* FindLocalHandle(platform::HANDLE handle, const char* call) {
  const std::optional<Number> number = NumberOf(handle);
  auto& handles = Machine().localHandles;
  const auto it = number ? handles.find(*number) : handles.end();
  if (it == handles.end()) {
    Violation(std::string(call) + ": " + HandleText(handle) + " is not an open local file handle");
    return nullptr;
  }
  return &it->second;
}

DWORD ModuleFileNameNow(platform::HMODULE module, char* fileName, DWORD size) {
  const std::optional<std::string>& path = Machine().modulePath;
  if (module != nullptr || !path || fileName == nullptr || size == 0) return 0;
  // A path that does not fit is cut to size-1 bytes and terminated, and the size is returned.
  const std::size_t kept = std::min<std::size_t>(path->size(), size - 1);
  std::memcpy(fileName, path->data(), kept);
  fileName[kept] = '\0';
  return kept < path->size() ? size : static_cast<DWORD>(kept);
}

platform::HANDLE OpenNow(const char* fileName, DWORD access, DWORD creationDisposition) {
  if (fileName == nullptr || *fileName == '\0') return platform::INVALID_HANDLE_VALUE;
  if (access != platform::GENERIC_READ || creationDisposition != platform::OPEN_EXISTING) {
    return platform::INVALID_HANDLE_VALUE;
  }
  const auto file = FindLocalFile(fileName);
  if (file == Machine().localFiles.end()) return platform::INVALID_HANDLE_VALUE;
  const Number number = NewNumber();
  Machine().localHandles[number] = LocalHandle{file->content, 0};
  return HandleOf(number);
}

DWORD FileSizeNow(platform::HANDLE file, DWORD* fileSizeHigh) {
  const LocalHandle* handle = FindLocalHandle(file, "GetFileSize");
  if (handle == nullptr) return platform::INVALID_FILE_SIZE;
  const auto size = static_cast<std::uint64_t>(handle->content.size());
  if (fileSizeHigh != nullptr) *fileSizeHigh = static_cast<DWORD>(size >> 32);
  return static_cast<DWORD>(size);
}

platform::BOOL ReadNow(platform::HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                       bool shortRead) {
  LocalHandle* handle = FindLocalHandle(file, "ReadFile");
  if (handle == nullptr || (buffer == nullptr && bytesToRead != 0)) return platform::FALSE;
  std::size_t count = std::min<std::size_t>(bytesToRead, handle->content.size() - handle->position);
  // A short read still hands out a byte while any are left: 0 would read as the end of the file.
  if (shortRead) count = count > 1 ? count / 2 : count;
  if (count != 0) std::memcpy(buffer, handle->content.data() + handle->position, count);
  handle->position += count;
  if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(count);
  return platform::TRUE;
}

platform::BOOL CloseNow(platform::HANDLE handle) {
  State& machine = Machine();
  const std::optional<Number> number = NumberOf(handle);
  if (number && (machine.localHandles.erase(*number) != 0 || machine.events.erase(*number) != 0)) {
    machine.closed.insert(*number);
    return platform::TRUE;
  }
  CloseViolation("CloseHandle", handle, "local file or event handle");
  return platform::FALSE;
}

}  // namespace
}  // namespace detail

using detail::Machine;

void SetModulePath(std::optional<std::string> path) {
  Machine().modulePath = std::move(path);
}

void SetCurrentFolder(const std::string& folder) {
  Machine().currentFolder = folder;
}

void SetLocalFile(const std::string& path, Bytes content) {
  const auto file = detail::FindLocalFile(path);
  if (file != Machine().localFiles.end()) {
    file->content = std::move(content);
  } else {
    Machine().localFiles.push_back(detail::LocalFile{detail::Resolve(path), std::move(content)});
  }
}

void RemoveLocalFile(const std::string& path) {
  const auto file = detail::FindLocalFile(path);
  if (file != Machine().localFiles.end()) Machine().localFiles.erase(file);
}

int OpenLocalFileCount() {
  return static_cast<int>(Machine().localHandles.size());
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size) {
  const std::optional<sim::Fault> fault = TakeFault("GetModuleFileNameA");
  std::vector<std::string> args = {HandleText(module), Ptr(fileName), Dec(size)};
  const DWORD length = fault ? 0 : ModuleFileNameNow(module, fileName, size);
  Record("GetModuleFileNameA", std::move(args), Dec(length));
  return length;
}

HANDLE CreateFileA(const char* fileName, DWORD access, DWORD shareMode, void* securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE templateFile) {
  const std::optional<sim::Fault> fault = TakeFault("CreateFileA");
  std::vector<std::string> args = {Str(fileName),
                                   Dec(access),
                                   Dec(shareMode),
                                   Ptr(securityAttributes),
                                   Dec(creationDisposition),
                                   Dec(flagsAndAttributes),
                                   HandleText(templateFile)};
  HANDLE file = fault ? INVALID_HANDLE_VALUE : OpenNow(fileName, access, creationDisposition);
  Record("CreateFileA", std::move(args), HandleText(file));
  return file;
}

DWORD GetFileSize(HANDLE file, DWORD* fileSizeHigh) {
  const std::optional<sim::Fault> fault = TakeFault("GetFileSize");
  std::vector<std::string> args = {HandleText(file), Ptr(fileSizeHigh)};
  const DWORD size = fault ? INVALID_FILE_SIZE : FileSizeNow(file, fileSizeHigh);
  Record("GetFileSize", std::move(args), Dec(size));
  return size;
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
  const std::optional<sim::Fault> fault = TakeFault("ReadFile");
  std::vector<std::string> args = {HandleText(file), Ptr(buffer), Dec(bytesToRead), Ptr(bytesRead),
                                   Ptr(overlapped)};
  if (bytesRead != nullptr) *bytesRead = 0;
  const BOOL read = fault == sim::Fault::kFail
                        ? FALSE
                        : ReadNow(file, buffer, bytesToRead, bytesRead, fault.has_value());
  Record("ReadFile", std::move(args), Dec(static_cast<unsigned>(read)));
  return read;
}

BOOL CloseHandle(HANDLE handle) {
  TakeFault("CloseHandle");  // counted, but a close always does its work
  std::vector<std::string> args = {HandleText(handle)};
  const BOOL closed = CloseNow(handle);
  Record("CloseHandle", std::move(args), Dec(static_cast<unsigned>(closed)));
  return closed;
}

}  // namespace platform
