#include "h2mon/common/stdtpl.h"
#include "h2mon/win32/scan_int64.h"
#include "h2mon/win32/win32.h"

#include <cstdio>
#include <cstring>

namespace {

unsigned char upper_ascii(char c) {
    const unsigned char byte = static_cast<unsigned char>(c);
    return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

// Sizes of the value texts of booleans ("True", "False") and numbers.
constexpr std::size_t kBoolTextSize = 8;
constexpr std::size_t kNumberTextSize = 16;

} // namespace

unsigned kv_bucket(const char* name) {
    if (name[0] == '\0') {
        return 0;
    }
    return static_cast<unsigned>(upper_ascii(name[0]) ^ upper_ascii(name[1])) % kKvBuckets;
}

// Takes ownership of a newly allocated value text (null when the allocation
// failed) in place of the old one.
bool KVAL::take_value(char* text) {
    kv_free(pszValue);
    pszValue = text;
    if (text == nullptr) {
        return false;
    }
    if (nType != KVT_OBJECT) {
        getvalue(pVar);
    }
    return true;
}

bool KVAL::setbool(bool value) {
    char* text = static_cast<char*>(kv_alloc(kBoolTextSize));
    if (text != nullptr) {
        std::snprintf(text, kBoolTextSize, "%s", value ? "True" : "False");
    }
    return take_value(text);
}

bool KVAL::setnum(int value) {
    char* text = static_cast<char*>(kv_alloc(kNumberTextSize));
    if (text != nullptr) {
        std::snprintf(text, kNumberTextSize, "%d", value);
    }
    return take_value(text);
}

// The copy is made before the old text is freed, so a text taken from this
// entry's own value is safe to pass.
bool KVAL::setstr(const char* text) {
    return take_value(kv_strdup(text));
}

// A text that does not scan leaves a number at 0; that is no error.
void KVAL::getvalue(void* destination) const {
    if (destination == nullptr) {
        return;
    }
    const char* text = value();
    switch (nType) {
    case KVT_OBJECT:
        *static_cast<void**>(destination) = pVar;
        break;
    case KVT_STRING:
        std::strcpy(static_cast<char*>(destination), text);
        break;
    case KVT_INT:
        (void)parseint(text, static_cast<int*>(destination)); // out of range: 0
        break;
    case KVT_HEX:
        *static_cast<unsigned*>(destination) = 0;
        (void)std::sscanf(text, "0x%X", static_cast<unsigned*>(destination));
        break;
    case KVT_DOUBLE:
        *static_cast<double*>(destination) = parsedouble(text);
        break;
    case KVT_INT64:
        *static_cast<std::int64_t*>(destination) = 0;
        scan_int64(text, static_cast<std::int64_t*>(destination));
        break;
    case KVT_BOOL:
        *static_cast<bool*>(destination) = parsebool(text);
        break;
    default:
        break;
    }
}

const char* KVAL::value() const {
    return pszValue != nullptr ? pszValue : "";
}

bool KVAL::named(const char* name) const {
    return _stricmp(pszName, name) == 0;
}

void KVAL::release_texts() {
    kv_free(pszName);
    kv_free(pszValue);
    pszName = nullptr;
    pszValue = nullptr;
}
