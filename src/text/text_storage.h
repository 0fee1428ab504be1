// The storage of text values, taken from the process's default heap.
#pragma once

#include <cstddef>

// Binds text storage to the process heap. Called once at start-up, before any text value holds
// characters; allocation before that fails.
void CreateTextStorage();

// Each returns null when the heap cannot supply the memory; the caller raises.
void* AllocateTextStorage(std::size_t bytes);
void* ResizeTextStorage(void* block, std::size_t bytes);
void ReleaseTextStorage(void* block);
