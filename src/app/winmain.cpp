#include "app/winmain.h"

#include "app/detection_run.h"

extern "C" int VURO_WINAPI WinMain(platform::HINSTANCE, platform::HINSTANCE, char*, int) {
  return DetectionRun();
}
