#include "h2mon/settings.h"

#include <initializer_list>

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
    for (const char* name : {"baud", "interval_ms"}) {
        const KVAL* entry = store.find(name);
        int value = 0;
        if (entry != nullptr && !parseint(entry->value(), &value)) {
            return name;
        }
    }
    return nullptr;
}
