// The one exception type of the program: raised by text values, carrying a 32-bit status code.
#pragma once

#include "platform/platform.h"

class TextError {
 public:
  explicit TextError(platform::HRESULT status) : status_(status) {}
  platform::HRESULT Status() const { return status_; }

 private:
  platform::HRESULT status_;
};
