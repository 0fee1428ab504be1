// The simulated registry: HKEY_CURRENT_USER with keys and values that compare without regard to
// ASCII letter case, reached through the ANSI entry points.
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
using platform::LONG;

constexpr DWORD KEY_QUERY_VALUE = 0x1;
constexpr DWORD KEY_SET_VALUE = 0x2;

std::string Fold(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// The key of a folded path; the root (HKEY_CURRENT_USER itself) is always there.
RegistryKey* FindKey(const std::string& path) {
  auto& keys = Machine().keys;
  if (path.empty()) return &keys[std::string()];
  const auto it = keys.find(Fold(path));
  return it == keys.end() ? nullptr : &it->second;
}

RegistryKey& MakeKey(const std::string& path) {
  auto& keys = Machine().keys;
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = path.find('\\', end + 1);
    const std::string prefix = path.substr(0, end);
    if (!prefix.empty()) keys.emplace(Fold(prefix), RegistryKey{prefix, {}, {}});
  }
  return keys.at(Fold(path));
}

// The path of an open key handle or of HKEY_CURRENT_USER; nullopt for anything else.
std::optional<std::string> PathOf(platform::HKEY key, DWORD* access) {
  if (key == platform::HKEY_CURRENT_USER) {
    if (access != nullptr) *access = KEY_QUERY_VALUE | KEY_SET_VALUE;
    return std::string();
  }
  const std::optional<Number> number = NumberOf(key);
  if (!number) return std::nullopt;
  const auto it = Machine().openKeys.find(*number);
  if (it == Machine().openKeys.end()) return std::nullopt;
  if (access != nullptr) *access = it->second.access;
  return it->second.path;
}

std::string Join(const std::string& base, const char* subKey) {
  const std::string sub = subKey == nullptr ? std::string() : std::string(subKey);
  if (base.empty()) return sub;
  if (sub.empty()) return base;
  return base + "\\" + sub;
}

LONG OpenKeyNow(platform::HKEY key, const char* subKey, DWORD access, platform::HKEY* result) {
  if (result == nullptr) return platform::ERROR_INVALID_PARAMETER;
  const std::optional<std::string> base = PathOf(key, nullptr);
  if (!base) return ERROR_INVALID_HANDLE;
  const std::string path = Join(*base, subKey);
  if (FindKey(path) == nullptr) return platform::ERROR_FILE_NOT_FOUND;
  const Number number = NewNumber();
  Machine().openKeys[number] = OpenKey{path, access};
  *result = static_cast<platform::HKEY>(HandleOf(number));
  return platform::ERROR_SUCCESS;
}

// Finds the key behind an open handle for a value operation that needs `right`.
LONG KeyForValues(platform::HKEY key, DWORD right, RegistryKey** found) {
  DWORD access = 0;
  const std::optional<std::string> path = PathOf(key, &access);
  if (!path) return ERROR_INVALID_HANDLE;
  if ((access & right) == 0) return platform::ERROR_ACCESS_DENIED;
  *found = FindKey(*path);
  return *found == nullptr ? ERROR_KEY_DELETED : platform::ERROR_SUCCESS;
}

LONG QueryValueNow(platform::HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                   platform::BYTE* data, DWORD* dataSize) {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return platform::ERROR_INVALID_PARAMETER;
  }
  RegistryKey* found = nullptr;
  const LONG opened = KeyForValues(key, KEY_QUERY_VALUE, &found);
  if (opened != platform::ERROR_SUCCESS) return opened;
  const auto it =
      found->values.find(Fold(valueName == nullptr ? std::string() : std::string(valueName)));
  if (it == found->values.end()) return platform::ERROR_FILE_NOT_FOUND;
  const Value& value = it->second;
  if (type != nullptr) *type = value.type;
  if (dataSize == nullptr) return platform::ERROR_SUCCESS;
  const auto size = static_cast<DWORD>(value.data.size());
  const bool fits = data == nullptr || *dataSize >= size;
  if (fits && data != nullptr && size != 0) std::memcpy(data, value.data.data(), size);
  *dataSize = size;
  return fits ? platform::ERROR_SUCCESS : platform::ERROR_MORE_DATA;
}

LONG SetValueNow(platform::HKEY key, const char* valueName, DWORD type, const platform::BYTE* data,
                 DWORD dataSize) {
  if (data == nullptr && dataSize != 0) return platform::ERROR_INVALID_PARAMETER;
  RegistryKey* found = nullptr;
  const LONG opened = KeyForValues(key, KEY_SET_VALUE, &found);
  if (opened != platform::ERROR_SUCCESS) return opened;
  const std::string name = valueName == nullptr ? std::string() : std::string(valueName);
  found->names[Fold(name)] = name;
  found->values[Fold(name)] = Value{type, Bytes(data, data + dataSize)};
  return platform::ERROR_SUCCESS;
}

LONG CloseKeyNow(platform::HKEY key) {
  // Closing a predefined key is allowed and harmless.
  if (key == platform::HKEY_CURRENT_USER) return platform::ERROR_SUCCESS;
  const std::optional<Number> number = NumberOf(key);
  if (!number || Machine().openKeys.erase(*number) == 0) {
    CloseViolation("RegCloseKey", key, "registry key");
    return ERROR_INVALID_HANDLE;
  }
  Machine().closed.insert(*number);
  return platform::ERROR_SUCCESS;
}

}  // namespace
}  // namespace detail

using detail::Fold;
using detail::Machine;

void CreateKey(const std::string& path) {
  detail::MakeKey(path);
}

void RemoveKey(const std::string& path) {
  const std::string folded = Fold(path);
  auto& keys = Machine().keys;
  for (auto it = keys.begin(); it != keys.end();) {
    const bool inside = it->first == folded || it->first.rfind(folded + "\\", 0) == 0;
    it = inside ? keys.erase(it) : std::next(it);
  }
}

bool KeyExists(const std::string& path) {
  return !path.empty() && Machine().keys.count(Fold(path)) != 0;
}

void SetValue(const std::string& path, const std::string& name, platform::DWORD type, Bytes data) {
  detail::RegistryKey& key = detail::MakeKey(path);
  key.names[Fold(name)] = name;
  key.values[Fold(name)] = Value{type, std::move(data)};
}

std::optional<Value> GetValue(const std::string& path, const std::string& name) {
  const detail::RegistryKey* key = detail::FindKey(path);
  if (key == nullptr) return std::nullopt;
  const auto it = key->values.find(Fold(name));
  if (it == key->values.end()) return std::nullopt;
  return it->second;
}

std::vector<std::string> ValueNames(const std::string& path) {
  std::vector<std::string> names;
  const detail::RegistryKey* key = detail::FindKey(path);
  if (key == nullptr) return names;
  for (const auto& entry : key->names) names.push_back(entry.second);
  return names;
}

int OpenKeyCount() {
  return static_cast<int>(Machine().openKeys.size());
}

}  // namespace sim

namespace platform {

using namespace sim::detail;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result) {
  const std::optional<sim::Fault> fault = TakeFault("RegOpenKeyExA");
  std::vector<std::string> args = {KeyText(key), Str(subKey), Dec(options), Dec(access),
                                   Ptr(result)};
  const LONG status = fault ? ERROR_ACCESS_DENIED : OpenKeyNow(key, subKey, access, result);
  Record("RegOpenKeyExA", std::move(args), DecSigned(status));
  return status;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
  const std::optional<sim::Fault> fault = TakeFault("RegQueryValueExA");
  std::vector<std::string> args = {KeyText(key), Str(valueName), Ptr(reserved),
                                   Ptr(type),    Ptr(data),      Ptr(dataSize)};
  const LONG status =
      fault ? ERROR_ACCESS_DENIED : QueryValueNow(key, valueName, reserved, type, data, dataSize);
  Record("RegQueryValueExA", std::move(args), DecSigned(status));
  return status;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
  const std::optional<sim::Fault> fault = TakeFault("RegSetValueExA");
  std::vector<std::string> args = {KeyText(key), Str(valueName), Dec(reserved),
                                   Dec(type),    Ptr(data),      Dec(dataSize)};
  const LONG status =
      fault ? ERROR_ACCESS_DENIED : SetValueNow(key, valueName, type, data, dataSize);
  Record("RegSetValueExA", std::move(args), DecSigned(status));
  return status;
}

LONG RegCloseKey(HKEY key) {
  TakeFault("RegCloseKey");  // counted, but a close always does its work
  std::vector<std::string> args = {KeyText(key)};
  const LONG status = CloseKeyNow(key);
  Record("RegCloseKey", std::move(args), DecSigned(status));
  return status;
}

}  // namespace platform
