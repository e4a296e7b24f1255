#include "h2mon/common/kvmem.h"

#include <cstdlib>
#include <cstring>

namespace {

void* zeroed_block(std::size_t size) {
    return std::calloc(1, size);
}

// Constant-initialised, so it is in place before any store is constructed
// during static initialisation, whatever the order of translation units.
KvAllocator current_allocator = zeroed_block;

} // namespace

void* kv_alloc(std::size_t size) {
    return current_allocator(size);
}

void kv_free(void* block) {
    std::free(block);
}

char* kv_strdup(const char* text) {
    if (text == nullptr) {
        text = "";
    }
    const std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(kv_alloc(size));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

KvAllocator kv_set_allocator(KvAllocator allocator) {
    const KvAllocator previous = current_allocator;
    current_allocator = allocator != nullptr ? allocator : zeroed_block;
    return previous;
}
