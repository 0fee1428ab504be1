#include "app/detection_run.h"

#include "device/device_connection.h"
#include "text/ansi_text.h"

namespace {

constexpr char kFamilyTag[] = "VURO";
constexpr char kValueNamePrefix[] = "SDK[";
constexpr char kValueNameSuffix[] = "]";

// The family word in any letter case, found character by character in an upper-cased copy.
bool NamesFamily(const AnsiText& oemText) {
  AnsiText upper(oemText);
  upper.MakeUpper();
  return upper.Find(kFamilyTag) != AnsiText::kNotFound;
}

}  // namespace

int DetectionRun() {
  DeviceConnection device;
  int exitCode = 0;
  try {
    AnsiText oemText;
    AnsiText model;
    // A failed read leaves the text empty, and an empty text names no family.
    DeviceConnection::ReadDeviceOemInfo(oemText);
    if (NamesFamily(oemText) && device.QueryModel(model, 0, 0) != 0) {
      const AnsiText valueName = AnsiText(kValueNamePrefix) + oemText + kValueNameSuffix;
      DeviceConnection::WriteModelValue(valueName, model);
    }
  } catch (...) {
    exitCode = -1;
  }
  device.Close();
  return exitCode;
}
