#include "h2mon/settings.h"

#include <initializer_list>

namespace {

constexpr const char* kNumberOptions[] = {"baud", "interval_ms"};

// An optional sign and at least one decimal digit, nothing else.
bool whole_decimal_number(const char* text) {
    if (*text == '+' || *text == '-') {
        ++text;
    }
    if (*text == '\0') {
        return false;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return false;
        }
    }
    return true;
}

} // namespace

bool register_settings(KVSTORE<KVAL>& store, Settings& settings) {
    store.addstr("port", settings.port, nullptr, 0, KVF_REQUIRED);
    store.addnum("baud", &settings.baud, nullptr, 0, 0);
    store.addnum("interval_ms", &settings.interval_ms, nullptr, 0, 0);
    store.addbool("tty", &settings.tty, nullptr, 0, 0);
    store.addstr("fmt", settings.fmt, nullptr, 0, 0);
    store.addstr("out", settings.out, nullptr, 0, 0);
    return true;
}

const char* setting_out_of_range(const KVSTORE<KVAL>& store) {
    for (const char* name : kNumberOptions) {
        const KVAL* entry = store.find(name);
        int value = 0;
        if (entry != nullptr && !parseint(entry->value(), &value)) {
            return name;
        }
    }
    return nullptr;
}

const char* setting_not_a_number(const KVSTORE<KVAL>& store) {
    for (const char* name : kNumberOptions) {
        const KVAL* entry = store.find(name);
        if (entry != nullptr && !whole_decimal_number(entry->value())) {
            return name;
        }
    }
    return nullptr;
}
