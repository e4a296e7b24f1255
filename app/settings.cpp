#include "app/settings.h"

bool register_settings(KVSTORE<KVAL>& store, Settings& settings) {
    store.addstr("port", settings.port, nullptr, 0, KVF_REQUIRED);
    store.addnum("baud", &settings.baud, nullptr, 0, 0);
    store.addnum("interval_ms", &settings.interval_ms, nullptr, 0, 0);
    store.addbool("tty", &settings.tty, nullptr, 0, 0);
    store.addstr("fmt", settings.fmt, nullptr, 0, 0);
    store.addstr("out", settings.out, nullptr, 0, 0);
    return true;
}
