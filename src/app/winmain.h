// The entry function of the windowed program.
#pragma once

#include "platform/platform.h"

// The detection run under the entry convention of windowed Windows programs; its four arguments
// are ignored. Returns the exit code: 0, or -1 when an exception reached the run.
extern "C" int VURO_WINAPI WinMain(platform::HINSTANCE instance, platform::HINSTANCE previous,
                                   char* commandLine, int showState);
