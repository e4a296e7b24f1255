// BuildCommDCBA: a DCB from a mode string in either form the Windows mode
// command accepts, the newer "baud=9600 parity=N data=8 stop=1" and the older
// "96,n,8,1[,x|p]". Both may follow a device name ("COM1:", "COM1 "). Only the
// fields the string names change, with the documented exceptions (stop bits
// and, in the older form, flow control); a string that does not parse leaves
// the DCB as it was.
#include "h2mon/win32/com_name.h"
#include "h2mon/win32/posix/comm.h"
#include "h2mon/win32/posix/errors.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

namespace {

struct Cursor {
    const char* p;

    bool at_end() const { return *p == '\0'; }
    void skip_spaces() {
        while (*p == ' ') {
            ++p;
        }
    }
    bool take(char c) {
        if (*p != c) {
            return false;
        }
        ++p;
        return true;
    }
};

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool equal_nocase(const char* a, std::size_t length, const char* b) {
    if (std::strlen(b) != length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

// A decimal number of at least one digit; values beyond 32 bits saturate.
bool take_number(Cursor& in, DWORD& value) {
    if (!is_digit(*in.p)) {
        return false;
    }
    unsigned long long n = 0;
    while (is_digit(*in.p)) {
        n = n * 10 + static_cast<unsigned>(*in.p - '0');
        n = n > MAXDWORD ? MAXDWORD : n;
        ++in.p;
    }
    value = static_cast<DWORD>(n);
    return true;
}

bool take_parity(Cursor& in, BYTE& parity) {
    const char* codes = "noems"; // in the order of NOPARITY .. SPACEPARITY
    const char* found = *in.p == '\0' ? nullptr : std::strchr(codes, lower(*in.p));
    if (found == nullptr) {
        return false;
    }
    parity = static_cast<BYTE>(found - codes);
    ++in.p;
    return true;
}

// Data bits and stop bits are numbers like the rate, so leading zeros are
// allowed ("08"), as Windows' own parser allows them.
bool take_data_bits(Cursor& in, BYTE& byte_size) {
    DWORD bits = 0;
    if (!take_number(in, bits) || bits < 5 || bits > 8) {
        return false;
    }
    byte_size = static_cast<BYTE>(bits);
    return true;
}

bool take_stop_bits(Cursor& in, BYTE& stop_bits) {
    if (std::strncmp(in.p, "1.5", 3) == 0) {
        stop_bits = ONE5STOPBITS;
        in.p += 3;
        return true;
    }
    DWORD bits = 0;
    if (!take_number(in, bits) || (bits != 1 && bits != 2)) {
        return false;
    }
    stop_bits = bits == 1 ? ONESTOPBIT : TWOSTOPBITS;
    return true;
}

// "COMn" (n from 1, no leading zero) followed by a colon or a space, with the
// spaces and the colon after it. Without such a name nothing is skipped.
void skip_device_name(Cursor& in) {
    const ComName com = read_com_name(in.p);
    if (com.length == 0 || !com.plain || com.number == 0) {
        return;
    }
    Cursor name = in;
    name.p += com.length;
    if (*name.p != ':' && *name.p != ' ') {
        return;
    }
    name.skip_spaces();
    name.take(':');
    name.skip_spaces();
    in = name;
}

// The older form's two-digit abbreviations of the classic rates.
DWORD expand_abbreviated_rate(DWORD rate) {
    struct Abbreviation {
        DWORD written;
        DWORD rate;
    };
    constexpr Abbreviation kAbbreviations[] = {
        {11, 110},  {15, 150},  {30, 300},  {60, 600},   {12, 1200},
        {24, 2400}, {48, 4800}, {96, 9600}, {19, 19200},
    };
    for (const Abbreviation& a : kAbbreviations) {
        if (a.written == rate) {
            return a.rate;
        }
    }
    return rate;
}

bool take_separator(Cursor& in) {
    in.skip_spaces();
    if (!in.take(',')) {
        return false;
    }
    in.skip_spaces();
    return true;
}

// The flow control the older form implies: none, XON/XOFF ("x") or hardware ("p").
void set_old_form_flow(char kind, DCB& dcb) {
    const bool software = kind == 'x';
    const bool hardware = kind == 'p';
    dcb.fInX = dcb.fOutX = software ? 1 : 0;
    dcb.fOutxDsrFlow = dcb.fOutxCtsFlow = hardware ? 1 : 0;
    dcb.fDtrControl = hardware ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

// "baud,parity,data,stop[,[x|p]]", spaces allowed around the commas and at the end.
bool parse_old_form(Cursor in, DCB& dcb) {
    DWORD rate = 0;
    if (!take_number(in, rate) || !take_separator(in) || !take_parity(in, dcb.Parity) ||
        !take_separator(in) || !take_data_bits(in, dcb.ByteSize) || !take_separator(in) ||
        !take_stop_bits(in, dcb.StopBits)) {
        return false;
    }
    dcb.BaudRate = expand_abbreviated_rate(rate);
    char flow = '\0';
    in.skip_spaces();
    if (in.take(',')) {
        in.skip_spaces();
        if (!in.at_end()) {
            flow = lower(*in.p);
            if (flow != 'x' && flow != 'p') {
                return false;
            }
            ++in.p;
            in.skip_spaces();
        }
    }
    set_old_form_flow(flow, dcb);
    return in.at_end();
}

struct NewFormState {
    bool baud_given = false;
    bool stop_given = false;
};

struct Key {
    const char* text;
    std::size_t length;

    bool is(const char* name) const { return equal_nocase(text, length, name); }
};

struct Value {
    const char* text;
    std::size_t length;
};

// A whole value read by one of the single-field readers.
template <class T, class Reader> bool parse_whole(const Value& value, T& field, Reader read) {
    Cursor in{value.text};
    T parsed{};
    if (!read(in, parsed) || in.p != value.text + value.length) {
        return false;
    }
    field = parsed;
    return true;
}

// A value from a list of words, as its index in the list.
bool parse_word(const Value& value, std::initializer_list<const char*> words, DWORD& index) {
    DWORD i = 0;
    for (const char* word : words) {
        if (equal_nocase(value.text, value.length, word)) {
            index = i;
            return true;
        }
        ++i;
    }
    return false;
}

bool apply_line_key(const Key& key, const Value& value, DCB& dcb, NewFormState& state) {
    if (key.is("baud")) {
        state.baud_given = true;
        return parse_whole(value, dcb.BaudRate, take_number);
    }
    if (key.is("parity")) {
        return parse_whole(value, dcb.Parity, take_parity);
    }
    if (key.is("data")) {
        return parse_whole(value, dcb.ByteSize, take_data_bits);
    }
    state.stop_given = true;
    return parse_whole(value, dcb.StopBits, take_stop_bits);
}

bool apply_flow_key(const Key& key, const Value& value, DCB& dcb) {
    DWORD mode = 0;
    if (key.is("dtr")) {
        // In the order of DTR_CONTROL_DISABLE, _ENABLE, _HANDSHAKE.
        const bool known = parse_word(value, {"off", "on", "hs"}, mode);
        dcb.fDtrControl = known ? mode : dcb.fDtrControl;
        return known;
    }
    if (key.is("rts")) {
        // In the order of RTS_CONTROL_DISABLE, _ENABLE, _HANDSHAKE, _TOGGLE.
        const bool known = parse_word(value, {"off", "on", "hs", "tg"}, mode);
        dcb.fRtsControl = known ? mode : dcb.fRtsControl;
        return known;
    }
    DWORD on = 0;
    if (!parse_word(value, {"off", "on"}, on)) {
        return false;
    }
    if (key.is("xon")) {
        dcb.fInX = dcb.fOutX = on;
    } else if (key.is("odsr")) {
        dcb.fOutxDsrFlow = on;
    } else if (key.is("octs")) {
        dcb.fOutxCtsFlow = on;
    } else if (key.is("idsr")) {
        dcb.fDsrSensitivity = on;
    } else if (!key.is("to")) {
        return false; // "to" (infinite time-out) has no place in a DCB
    }
    return true;
}

// One "key=value"; the value runs to the next space or the end.
bool parse_setting(Cursor& in, DCB& dcb, NewFormState& state) {
    const char* key_start = in.p;
    while (std::isalpha(static_cast<unsigned char>(*in.p))) {
        ++in.p;
    }
    const Key key{key_start, static_cast<std::size_t>(in.p - key_start)};
    if (key.length == 0 || !in.take('=')) {
        return false;
    }
    const char* value_start = in.p;
    while (*in.p != '\0' && *in.p != ' ') {
        ++in.p;
    }
    const Value value{value_start, static_cast<std::size_t>(in.p - value_start)};
    if (key.is("baud") || key.is("parity") || key.is("data") || key.is("stop")) {
        return apply_line_key(key, value, dcb, state);
    }
    return apply_flow_key(key, value, dcb);
}

// Settings separated by one or more spaces; none at the start or the end.
bool parse_new_form(Cursor in, DCB& dcb) {
    NewFormState state;
    while (!in.at_end()) {
        if (!parse_setting(in, dcb, state)) {
            return false;
        }
        if (in.at_end()) {
            break;
        }
        in.skip_spaces();
        if (in.at_end()) {
            return false;
        }
    }
    // As with the mode command, stop bits not given are 1, or 2 at 110 baud.
    if (!state.stop_given) {
        const bool slow_teletype = state.baud_given && dcb.BaudRate == 110;
        dcb.StopBits = slow_teletype ? TWOSTOPBITS : ONESTOPBIT;
    }
    return true;
}

} // namespace

BOOL BuildCommDCBA(LPCSTR definition, LPDCB dcb) {
    if (definition == nullptr || dcb == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    dcb->DCBlength = sizeof(DCB);
    Cursor in{definition};
    skip_device_name(in);
    DCB built = *dcb;
    const bool parsed =
        std::strchr(in.p, ',') != nullptr ? parse_old_form(in, built) : parse_new_form(in, built);
    if (!parsed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *dcb = built;
    return TRUE;
}
