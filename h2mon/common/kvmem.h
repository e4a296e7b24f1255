// Heap memory of the keyed value store. Its entries and every text they own are
// taken through kv_alloc, so that a test can make an allocation fail on demand
// and reach the store's out-of-memory paths. The program never replaces it.
#pragma once

#include <cstddef>

// Returns a zeroed block of size bytes, or null. Blocks are released with
// std::free, so a replacement must hand out blocks std::free accepts.
using KvAllocator = void* (*)(std::size_t size);

void* kv_alloc(std::size_t size);
void kv_free(void* block);
// A heap copy of text (of the empty text for null), or null without memory.
char* kv_strdup(const char* text);

// Installs allocator (the default for null) and returns the one it replaces.
KvAllocator kv_set_allocator(KvAllocator allocator);
