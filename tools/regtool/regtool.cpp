// regtool: sets up and inspects the synchronization service's registry key,
// HKEY_CURRENT_USER\Software\Microsoft\Windows CE Services, through the registry's ANSI entry
// points, the ones vurodetect uses. Value names and data are given and shown as hex bytes, so
// that texts in a double-byte code page are checked byte for byte.
//
//   regtool COMMAND [ARGS] [COMMAND [ARGS]]...
//
// Commands, run in order; the first that fails ends the run with exit code 1:
//   reset                       delete the key with everything in it, then create it empty
//   delete-key                  delete the key with everything in it (no error when missing)
//   create-key                  create the key (no error when present)
//   set TYPE NAMEHEX DATAHEX    set a value; TYPE is a number or REG_SZ, REG_BINARY, ...
//   set-oem TYPE DATAHEX        set DeviceOemInfo
//   delete-oem                  delete DeviceOemInfo
//   query NAMEHEX               print "type T size N data HEX", or "missing"
//   dump                        print "NAMEHEX T N DATAHEX" for every value, or "no key"
//   acp                         print the ANSI code page
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kKey[] = "Software\\Microsoft\\Windows CE Services";
constexpr char kOemValue[] = "DeviceOemInfo";

using Bytes = std::vector<unsigned char>;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Bytes> FromHex(const char* text) {
  const std::size_t length = std::strlen(text);
  if (length % 2 != 0) return std::nullopt;
  Bytes bytes;
  for (std::size_t i = 0; i < length; i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(high * 16 + low));
  }
  return bytes;
}

std::string ToHex(const unsigned char* data, std::size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0xF];
  }
  return text;
}

std::optional<DWORD> TypeFromText(const std::string& text) {
  static const struct {
    const char* name;
    DWORD type;
  } kTypes[] = {{"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
                {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                {"REG_DWORD", REG_DWORD},         {"REG_MULTI_SZ", REG_MULTI_SZ}};
  for (const auto& entry : kTypes) {
    if (text == entry.name) return entry.type;
  }
  char* end = nullptr;
  const unsigned long number = std::strtoul(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0') return std::nullopt;
  return static_cast<DWORD>(number);
}

bool Fail(const std::string& what, LONG error) {
  std::fprintf(stderr, "regtool: %s: error %ld\n", what.c_str(), static_cast<long>(error));
  return false;
}

// Closes the key it holds when it goes out of scope.
class OpenKey {
 public:
  explicit OpenKey(REGSAM access) {
    status_ = RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, access, &key_);
  }
  ~OpenKey() {
    if (status_ == ERROR_SUCCESS) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;

  LONG status() const { return status_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
  LONG status_;
};

bool DeleteKey() {
  const LONG status = RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  if (status == ERROR_FILE_NOT_FOUND) return true;
  return status == ERROR_SUCCESS || Fail("delete-key", status);
}

bool CreateKey() {
  HKEY key = nullptr;
  const LONG status =
      RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (status != ERROR_SUCCESS) return Fail("create-key", status);
  RegCloseKey(key);
  return true;
}

bool SetValue(const std::string& name, DWORD type, const Bytes& data) {
  OpenKey key(KEY_WRITE);
  if (key.status() != ERROR_SUCCESS) return Fail("open for set", key.status());
  const LONG status = RegSetValueExA(key.get(), name.c_str(), 0, type, data.data(),
                                     static_cast<DWORD>(data.size()));
  return status == ERROR_SUCCESS || Fail("set", status);
}

bool DeleteOem() {
  OpenKey key(KEY_WRITE);
  if (key.status() != ERROR_SUCCESS) return Fail("open for delete-oem", key.status());
  const LONG status = RegDeleteValueA(key.get(), kOemValue);
  return status == ERROR_SUCCESS || Fail("delete-oem", status);
}

// Reads a value whatever its size: asks for the size first, then for the data.
LONG ReadValue(HKEY key, const std::string& name, DWORD* type, Bytes* data) {
  DWORD size = 0;
  LONG status = RegQueryValueExA(key, name.c_str(), nullptr, type, nullptr, &size);
  if (status != ERROR_SUCCESS) return status;
  data->assign(size, 0);
  status = RegQueryValueExA(key, name.c_str(), nullptr, type, data->data(), &size);
  data->resize(size);
  return status;
}

bool Query(const std::string& name) {
  OpenKey key(KEY_READ);
  if (key.status() == ERROR_FILE_NOT_FOUND) {
    std::printf("missing\n");
    return true;
  }
  if (key.status() != ERROR_SUCCESS) return Fail("open for query", key.status());
  DWORD type = 0;
  Bytes data;
  const LONG status = ReadValue(key.get(), name, &type, &data);
  if (status == ERROR_FILE_NOT_FOUND) {
    std::printf("missing\n");
    return true;
  }
  if (status != ERROR_SUCCESS) return Fail("query", status);
  std::printf("type %lu size %zu data %s\n", static_cast<unsigned long>(type), data.size(),
              ToHex(data.data(), data.size()).c_str());
  return true;
}

bool Dump() {
  OpenKey key(KEY_READ);
  if (key.status() == ERROR_FILE_NOT_FOUND) {
    std::printf("no key\n");
    return true;
  }
  if (key.status() != ERROR_SUCCESS) return Fail("open for dump", key.status());
  DWORD longestName = 0;
  LONG status = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, &longestName, nullptr, nullptr, nullptr);
  if (status != ERROR_SUCCESS) return Fail("dump", status);
  // The longest name is counted in characters; under a double-byte code page each may take two
  // bytes.
  std::vector<char> name(2 * longestName + 2);
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = static_cast<DWORD>(name.size());
    status =
        RegEnumValueA(key.get(), index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (status != ERROR_SUCCESS) return Fail("dump", status);
    const std::string valueName(name.data(), nameSize);
    DWORD type = 0;
    Bytes data;
    status = ReadValue(key.get(), valueName, &type, &data);
    if (status != ERROR_SUCCESS) return Fail("dump", status);
    std::printf(
        "%s %lu %zu %s\n",
        ToHex(reinterpret_cast<const unsigned char*>(valueName.data()), valueName.size()).c_str(),
        static_cast<unsigned long>(type), data.size(), ToHex(data.data(), data.size()).c_str());
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: regtool COMMAND [ARGS]...\n"
               "  reset | delete-key | create-key | set TYPE NAMEHEX DATAHEX |\n"
               "  set-oem TYPE DATAHEX | delete-oem | query NAMEHEX | dump | acp\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (int i = 1; i < argc; ++i) {
    const std::string command = argv[i];
    const int left = argc - i - 1;
    bool ok = true;
    if (command == "reset") {
      ok = DeleteKey() && CreateKey();
    } else if (command == "delete-key") {
      ok = DeleteKey();
    } else if (command == "create-key") {
      ok = CreateKey();
    } else if (command == "delete-oem") {
      ok = DeleteOem();
    } else if (command == "dump") {
      ok = Dump();
    } else if (command == "acp") {
      std::printf("%u\n", GetACP());
    } else if ((command == "set" && left >= 3) || (command == "set-oem" && left >= 2)) {
      const std::optional<DWORD> type = TypeFromText(argv[++i]);
      std::optional<Bytes> name = Bytes(kOemValue, kOemValue + sizeof(kOemValue) - 1);
      if (command == "set") name = FromHex(argv[++i]);
      const std::optional<Bytes> data = FromHex(argv[++i]);
      if (!type || !name || !data) return Usage();
      ok = SetValue(std::string(name->begin(), name->end()), *type, *data);
    } else if (command == "query" && left >= 1) {
      const std::optional<Bytes> name = FromHex(argv[++i]);
      if (!name) return Usage();
      ok = Query(std::string(name->begin(), name->end()));
    } else {
      return Usage();
    }
    if (!ok) return 1;
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
