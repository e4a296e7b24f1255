// dcb_probe: what BuildCommDCBA makes of a broad table of mode strings, one line
// each, so that the Linux implementation and the Windows one (run under Wine)
// can be compared line by line with a plain diff.
//
// Each mode string is applied twice, to a DCB with every field set to a value no
// mode string gives (busy) and to an all-zero DCB, so that no assignment can
// hide behind a field that already held the value assigned. A line holds the
// starting DCB's name, the mode string, the result with the error number, and
// every field that differs from the starting DCB:
//
//     busy	"96,n,8,1,x"	ok 0	BaudRate=9600 ... fInX=1
#include "h2mon/win32/win32.h"
#include "tests/support/dcb.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

struct KeyValues {
    const char* key;
    Strings values;
};

const Strings kSwitchValues = {"on", "off", "ON", "Off", "x", "1", "onn", "o", ""};

// Every key of the key=value form with good and bad values.
const std::vector<KeyValues> kKeys = {
    {"baud",
     {"110", "0110", "9600", "19200", "115200", "96", "15", "0", "4294967295", "4294967296", "",
      "abc", "-5", "+9600", "9600x", "0x10", "9600.0"}},
    {"parity", {"n", "e", "o", "m", "s", "N", "E", "O", "M", "S", "x", "even", ""}},
    {"data", {"4", "5", "6", "7", "8", "9", "8x", "08", "007", ""}},
    {"stop", {"1", "1.5", "2", "0", "3", "15", "1.0", "2.0", "01", "02", "01.5", ""}},
    {"xon", kSwitchValues},
    {"odsr", kSwitchValues},
    {"octs", kSwitchValues},
    {"idsr", kSwitchValues},
    {"to", kSwitchValues},
    {"dtr", {"on", "off", "hs", "HS", "tg", "x", ""}},
    {"rts", {"on", "off", "hs", "Hs", "tg", "TG", "x", ""}},
};

// The four fields of the comma form and the optional fifth, flow control
// (given with its leading comma).
const Strings kRates = {"11",  "15",  "30",  "60",  "12",   "24",   "48",     "96",  "19",
                        "14",  "3",   "110", "300", "1200", "9600", "115200", "0",   "4294967296",
                        "abc", "-96", "96x", "",    "+96",  "096",  "011",    "0015"};
const Strings kParities = {"n", "e", "o", "m", "s", "N", "E", "O", "M", "S", "x", ""};
const Strings kDataBits = {"4", "5", "6", "7", "8", "9", "08", ""};
const Strings kStopBits = {"1", "1.5", "2", "3", "1.0", "01", "02", ""};
const Strings kFlows = {"", ",", ",x", ",X", ",p", ",P", ",q", ",xp", ",,", ",x,"};

// Device names that may stand in front of either form.
const Strings kPrefixes = {"COM1:",  "COM1: ", "COM1:  ", "com1 ",       "Com1 ",  "COM1 : ",
                           "COM1 :", "COM9:",  "COM10: ", "COM256: ",    "COM0: ", "COM01: ",
                           "COM: ",  "COMx: ", "LPT1: ",  "COM1:COM2: ", "COM1,",  "COM1"};

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string capitalized(std::string text) {
    text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

std::string replaced(std::string text, char from, const std::string& to) {
    std::string out;
    for (char c : text) {
        out += c == from ? to : std::string(1, c);
    }
    return out;
}

// Every key alone with each of its values, the key in three spellings.
void add_single_keys(Strings& modes) {
    for (const KeyValues& k : kKeys) {
        for (const std::string& key : {std::string(k.key), upper(k.key), capitalized(k.key)}) {
            for (const std::string& value : k.values) {
                modes.push_back(key + "=" + value);
            }
        }
    }
}

// Keys together: the line settings in both orders, every on/off setting of the
// seven switches, repeated keys, and the handshake values beside others.
void add_key_combinations(Strings& modes) {
    for (const char* baud : {"110", "9600", "19200"}) {
        for (const char* parity : {"n", "E", "o", "m", "s"}) {
            for (const char* data : {"5", "7", "8"}) {
                for (const char* stop : {"1", "1.5", "2"}) {
                    modes.push_back(std::string("baud=") + baud + " parity=" + parity +
                                    " data=" + data + " stop=" + stop);
                    modes.push_back(std::string("STOP=") + stop + " DATA=" + data +
                                    " PARITY=" + parity + " BAUD=" + baud);
                }
            }
        }
    }
    const char* switches[] = {"xon", "odsr", "octs", "dtr", "rts", "idsr", "to"};
    for (unsigned bits = 0; bits < 128; ++bits) {
        std::string mode;
        for (unsigned i = 0; i < 7; ++i) {
            mode += std::string(i ? " " : "") + switches[i] + ((bits >> i) & 1 ? "=on" : "=off");
        }
        modes.push_back(mode);
    }
    for (const char* mode : {"baud=9600 baud=19200", "parity=n parity=e", "stop=2 stop=1",
                             "baud=110 stop=1", "stop=1.5 baud=110", "baud=110 data=7",
                             "dtr=hs rts=tg baud=2400", "rts=hs dtr=on", "xon=on rts=hs"}) {
        modes.push_back(mode);
    }
}

// The comma form: each field through its values with the others fixed, a grid
// of good values, and strings with fields missing.
void add_comma_form(Strings& modes) {
    for (const std::string& rate : kRates) {
        modes.push_back(rate + ",n,8,1");
    }
    for (const std::string& parity : kParities) {
        modes.push_back("96," + parity + ",8,1");
    }
    for (const std::string& data : kDataBits) {
        modes.push_back("96,n," + data + ",1");
    }
    for (const std::string& stop : kStopBits) {
        modes.push_back("96,n,8," + stop);
    }
    for (const std::string& flow : kFlows) {
        modes.push_back("96,n,8,1" + flow);
    }
    for (const char* rate : {"11", "96", "19", "110", "9600"}) {
        for (const char* parity : {"n", "e", "M"}) {
            for (const char* data : {"5", "7", "8"}) {
                for (const char* stop : {"1", "1.5", "2"}) {
                    for (const char* flow : {"", ",x", ",p"}) {
                        modes.push_back(std::string(rate) + "," + parity + "," + data + "," + stop +
                                        flow);
                    }
                }
            }
        }
    }
    for (const char* mode : {"96,n,8", "96,n", "96", ",n,8,1", "96,,8,1", "96 n 8 1",
                             "96,n,8,1 baud=19200", "baud=19200 96,n,8,1"}) {
        modes.push_back(mode);
    }
}

// Device names in front, and white space where it may or may not go.
void add_layouts(Strings& modes) {
    const Strings bases = {"baud=9600 parity=N data=8 stop=1", "96,n,8,1", "96,n,8,1,x", "baud=110",
                           ""};
    for (const std::string& base : bases) {
        for (const std::string& prefix : kPrefixes) {
            modes.push_back(prefix + base);
        }
        for (const char* space : {"  ", "\t", " \t"}) {
            modes.push_back(replaced(base, ' ', space));
        }
        for (const char* around : {" ", "\t", "  "}) {
            modes.push_back(around + base);
            modes.push_back(base + around);
            modes.push_back("COM1: " + base + around);
        }
        modes.push_back(replaced(base, '=', " = "));
        modes.push_back(replaced(base, '=', "= "));
        modes.push_back(replaced(base, '=', " ="));
        modes.push_back(replaced(base, ',', " , "));
        modes.push_back(replaced(base, ',', ", "));
        modes.push_back(replaced(base, ',', " ,"));
    }
}

Strings mode_strings() {
    Strings modes;
    add_single_keys(modes);
    add_key_combinations(modes);
    add_comma_form(modes);
    add_layouts(modes);
    return modes;
}

// The fields of `after` whose text differs from `before`'s, both as dcb_text
// writes them.
std::string changed_fields(const std::string& before, const std::string& after) {
    std::istringstream b(before);
    std::istringstream a(after);
    std::string field_before;
    std::string field_after;
    std::string changes;
    while (b >> field_before && a >> field_after) {
        if (field_before != field_after) {
            changes += (changes.empty() ? "" : " ") + field_after;
        }
    }
    return changes;
}

void probe(const char* start_name, const DCB& start, const std::string& mode) {
    DCB dcb = start;
    SetLastError(0);
    const BOOL ok = BuildCommDCBA(mode.c_str(), &dcb);
    const DWORD error = GetLastError();
    std::printf("%s\t\"%s\"\t%s %lu\t%s\n", start_name, replaced(mode, '\t', "\\t").c_str(),
                ok ? "ok" : "refused", static_cast<unsigned long>(error),
                changed_fields(dcb_text(start), dcb_text(dcb)).c_str());
}

} // namespace

int main() {
    for (const std::string& mode : mode_strings()) {
        probe("busy", dcb_unlike_any_mode(), mode);
        probe("zero", DCB{}, mode);
    }
    return 0;
}
