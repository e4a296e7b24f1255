// A settings store with h2mon's six options, registered the way the program
// registers them: bound to its variables, no default texts, user word 0.
#pragma once

#include "common/stdtpl.h"

struct ProgramOptions {
    KVSTORE<KVAL> store;
    char port[1024] = "";
    int baud = 9600;
    int interval_ms = 10000;
    bool tty = false;
    char fmt[1024] = "CSV";
    char out[1024] = "";

    ProgramOptions() {
        store.addstr("port", port, nullptr, 0, KVF_REQUIRED);
        store.addnum("baud", &baud, nullptr, 0, 0);
        store.addnum("interval_ms", &interval_ms, nullptr, 0, 0);
        store.addbool("tty", &tty, nullptr, 0, 0);
        store.addstr("fmt", fmt, nullptr, 0, 0);
        store.addstr("out", out, nullptr, 0, 0);
    }
};
