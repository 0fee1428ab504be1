// The Windows CE Remote API (rapi.dll) as this program uses it: the start record and the nine
// entry points that are looked up at run time, written from the library's documented contract.
// Every entry point uses the Windows API calling convention.
#pragma once

#include "platform/platform.h"

namespace platform {

// Filled in by CeRapiInitEx. The event field is handle-sized, so the record is 12 bytes on 32-bit
// Windows and 24 bytes on 64-bit Windows; cbSize always holds the record's own size.
struct RAPIINIT {
  DWORD cbSize;
  HANDLE heRapiInit;  // signalled once the connection to the device is up
  HRESULT hrRapiInit;
};

struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;
struct IRAPIStream;

using CeRapiInitExFn = HRESULT(VURO_WINAPI*)(RAPIINIT* init);
using CeRapiUninitFn = HRESULT(VURO_WINAPI*)();
using CeRapiInvokeFn = HRESULT(VURO_WINAPI*)(const WCHAR* dllPath, const WCHAR* functionName,
                                             DWORD inputSize, BYTE* input, DWORD* outputSize,
                                             BYTE** output, IRAPIStream** stream, DWORD reserved);
using CeCreateFileFn = HANDLE(VURO_WINAPI*)(const WCHAR* fileName, DWORD access, DWORD shareMode,
                                            SECURITY_ATTRIBUTES* securityAttributes,
                                            DWORD creationDisposition, DWORD flagsAndAttributes,
                                            HANDLE templateFile);
using CeWriteFileFn = BOOL(VURO_WINAPI*)(HANDLE file, const void* buffer, DWORD bytesToWrite,
                                         DWORD* bytesWritten, OVERLAPPED* overlapped);
using CeReadFileFn = BOOL(VURO_WINAPI*)(HANDLE file, void* buffer, DWORD bytesToRead,
                                        DWORD* bytesRead, OVERLAPPED* overlapped);
using CeGetFileSizeFn = DWORD(VURO_WINAPI*)(HANDLE file, DWORD* fileSizeHigh);
using CeCloseHandleFn = BOOL(VURO_WINAPI*)(HANDLE object);
using CeDeleteFileFn = BOOL(VURO_WINAPI*)(const WCHAR* fileName);

}  // namespace platform
