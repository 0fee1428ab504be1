// The device-side probe library: where it lives on the handheld, its entry point and its report.
#pragma once

#include "platform/platform.h"

namespace ProbeLibrary {

inline constexpr platform::WCHAR kDevicePath[] = u"\\Windows\\KOLTInfo.dll";
inline constexpr platform::WCHAR kEntryPoint[] = u"VuroModelInfo";
// A bare name, the same for opening and deleting.
inline constexpr platform::WCHAR kReportFile[] = u"koltout.txt";

}  // namespace ProbeLibrary
