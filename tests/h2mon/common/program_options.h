// A settings store with h2mon's six options, registered exactly as the program
// registers them.
#pragma once

#include "h2mon/settings.h"

struct ProgramOptions : Settings {
    KVSTORE<KVAL> store;

    ProgramOptions() { register_settings(store, *this); }
};
