// The link to the connected handheld: rapi.dll loaded at run time, its entry-point table and the
// started Remote API, with the operations built on them. The registry operations and the report
// parser use none of the record's fields; they are defined beside the subsystems they serve.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/remote_api.h"
#include "text/ansi_text.h"

class DeviceConnection {
 public:
  DeviceConnection() = default;
  DeviceConnection(const DeviceConnection&) = delete;
  DeviceConnection& operator=(const DeviceConnection&) = delete;
  ~DeviceConnection() { Close(); }

  // Loads rapi.dll and looks up all nine entry points; 1 only when every one was found. An
  // incomplete library is released again. Reached through EnsureConnected on a record not loaded.
  int Load();
  // Starts the Remote API and waits for its confirmation; 1 when it came in time.
  int Connect();
  // Loads and starts as far as not yet done; 1 when the device can be used.
  int EnsureConnected();
  // Stops the Remote API if started and releases rapi.dll if loaded. Safe in any state.
  void Close();

  // Makes sure the probe library is on the device, copying it from the program's folder when it
  // is missing or when `force` is non-zero. 1 when the probe is taken to be there.
  int EnsureProbe(int force);

  // Runs the probe, collects its report and parses the model name into `model`. 1 when a model
  // name was delivered. Raises nothing.
  int QueryModel(AnsiText& model, int force, int attempt);

  // Takes the model name and the serial number out of a report text. 1 when `model` is not empty.
  // The parse itself raises nothing; copying a text into the by-value argument can.
  static int ParseReport(AnsiText text, AnsiText& model, AnsiText& serial);

  // Reads the synchronization service's DeviceOemInfo value into `oemText`. 1 when read; the text
  // is unchanged otherwise.
  static int ReadDeviceOemInfo(AnsiText& oemText);
  // Stores `model` as the 2048-byte model record under `valueName`. 1 when stored.
  static int WriteModelValue(AnsiText valueName, AnsiText model);

  // The record, in this order. Invariants: loaded implies a library and nine entries; connected
  // implies loaded.
  std::int32_t loaded = 0;
  std::int32_t connected = 0;
  platform::CeRapiInitExFn ceRapiInitEx = nullptr;
  platform::CeRapiInvokeFn ceRapiInvoke = nullptr;
  platform::CeRapiUninitFn ceRapiUninit = nullptr;
  platform::CeCreateFileFn ceCreateFile = nullptr;
  platform::CeWriteFileFn ceWriteFile = nullptr;
  platform::CeCloseHandleFn ceCloseHandle = nullptr;
  platform::CeReadFileFn ceReadFile = nullptr;
  platform::CeGetFileSizeFn ceGetFileSize = nullptr;
  platform::CeDeleteFileFn ceDeleteFile = nullptr;
  platform::HMODULE library = nullptr;

 private:
  // Frees the library, if any, and clears the entry table.
  void ReleaseLibrary();
};
