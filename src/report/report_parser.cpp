#include <cstddef>
#include <utility>

#include "device/device_connection.h"

namespace {

constexpr char kOpeningMarker[] = "<Model_Info><Model>";
// One marker: nothing may stand between its two tags.
constexpr char kSeparator[] = "</Model><Serial_Num>";
constexpr char kClosingMarker[] = "</Serial_Num>";

}  // namespace

int DeviceConnection::ParseReport(AnsiText text, AnsiText& model, AnsiText& serial) {
  // Each output is handed over only once it is complete: a parse cut short by a failing text
  // operation leaves it empty rather than holding report text that was never cut down to a name.
  model.Empty();
  serial.Empty();
  try {
    // The model name: everything before the separator once every opening marker is gone.
    AnsiText name(text);
    name.RemoveAll(kOpeningMarker);
    const std::size_t separator = name.Find(kSeparator);
    if (separator == AnsiText::kNotFound) {
      name.Empty();
    } else {
      name.Truncate(separator);
    }
    model = std::move(name);

    // The serial number: what is left before the closing marker once the model part is removed.
    text.RemoveAll(AnsiText(kOpeningMarker) + model + kSeparator);
    const std::size_t closing = text.Find(kClosingMarker);
    if (closing == AnsiText::kNotFound || closing == 0) {
      text.Empty();
    } else {
      text.Truncate(closing);
    }
    serial = std::move(text);
  } catch (...) {
    // The outputs handed over so far stand; the others stay empty.
  }
  return model.IsEmpty() ? 0 : 1;
}
