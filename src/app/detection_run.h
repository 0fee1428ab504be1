// The one-shot detection run: reads the handheld's OEM text, and for a handheld of the family
// asks it for its model name and stores that beside the OEM text.
#pragma once

// Returns the exit code: 0, or -1 when an exception reached the run.
int DetectionRun();
