// Process start-up: what must be in place before the detection run.
#pragma once

// Keeps the DLL search to safe folders, adopts the system's ANSI code page and binds text storage
// to the process heap. Runs once per process, before WinMain.
void StartUp();
