// Start-up of the Windows program. The C runtime runs static initialisers before it calls WinMain,
// so this object puts the process in order first; WinMain's result then becomes the exit code.
#include "app/startup.h"

namespace {

struct ProcessStartUp {
  ProcessStartUp() { StartUp(); }
};

const ProcessStartUp processStartUp;

}  // namespace
