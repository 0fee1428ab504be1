#include "text/text_storage.h"

#include "platform/platform.h"

namespace {
platform::HANDLE textHeap = nullptr;
}  // namespace

void CreateTextStorage() { textHeap = platform::GetProcessHeap(); }

void* AllocateTextStorage(std::size_t bytes) {
  if (textHeap == nullptr) return nullptr;
  return platform::HeapAlloc(textHeap, 0, bytes);
}

void* ResizeTextStorage(void* block, std::size_t bytes) {
  if (textHeap == nullptr) return nullptr;
  return platform::HeapReAlloc(textHeap, 0, block, bytes);
}

void ReleaseTextStorage(void* block) {
  if (block != nullptr && textHeap != nullptr) platform::HeapFree(textHeap, 0, block);
}
