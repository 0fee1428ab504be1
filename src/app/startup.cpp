#include "app/startup.h"

#include "platform/platform.h"
#include "text/code_page.h"
#include "text/text_storage.h"

void StartUp() {
  // First of all, so that nothing can load a rapi.dll planted in the working folder.
  platform::RestrictDllSearchPath();
  CodePage::AdoptAnsiCodePage();
  CreateTextStorage();
}
