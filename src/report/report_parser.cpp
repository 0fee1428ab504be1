#include "device/device_connection.h"

namespace {

constexpr char kOpeningMarker[] = "<Model_Info><Model>";
// One marker: nothing may stand between its two tags.
constexpr char kSeparator[] = "</Model><Serial_Num>";
constexpr char kClosingMarker[] = "</Serial_Num>";

}  // namespace

int DeviceConnection::ParseReport(AnsiText text, AnsiText& model, AnsiText& serial) {
  try {
    // The model name: everything before the separator once every opening marker is gone.
    model = text;
    model.RemoveAll(kOpeningMarker);
    const std::size_t separator = model.Find(kSeparator);
    if (separator == AnsiText::kNotFound) {
      model.Empty();
    } else {
      model.Truncate(separator);
    }

    // The serial number: what is left before the closing marker once the model part is removed.
    serial = text;
    serial.RemoveAll(AnsiText(kOpeningMarker) + model + kSeparator);
    const std::size_t closing = serial.Find(kClosingMarker);
    if (closing == AnsiText::kNotFound || closing == 0) {
      serial.Empty();
    } else {
      serial.Truncate(closing);
    }
  } catch (...) {
    // Whatever the model holds at this point decides.
  }
  return model.IsEmpty() ? 0 : 1;
}
