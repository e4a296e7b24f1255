// The program's six settings and their registration as command-line options.
#pragma once

#include "h2mon/common/stdtpl.h"

// The variables the options are bound to; their initial values are the defaults
// the usage text shows.
struct Settings {
    char port[1024] = "";
    int baud = 9600;
    int interval_ms = 10000;
    bool tty = false; // written by the parser; console mode asks whether /tty was given
    char fmt[1024] = "CSV";
    char out[1024] = "";
};

// Registers port (required), baud, interval_ms, tty, fmt and out in that order,
// each bound to its field, with no default text and user word 0. Returns true.
bool register_settings(KVSTORE<KVAL>& store, Settings& settings);

// The name of the first number option whose text does not fit its 32-bit type
// (its variable then holds 0, not what was meant), or null when all fit.
const char* setting_out_of_range(const KVSTORE<KVAL>& store);

// The name of the first number option whose text is not a whole decimal number
// (an optional sign and digits only), or null when all are. The store's own
// conversion would read "10s" as 10 and "abc" as 0.
const char* setting_not_a_number(const KVSTORE<KVAL>& store);
