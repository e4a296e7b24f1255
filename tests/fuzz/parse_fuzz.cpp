// Feeds arbitrary command lines to the settings store's parser, with h2mon's
// six options and usage text.
//
// Input: byte 0 chooses the parse (bits 0-1: most positional arguments, bit 2:
// at least one positional argument, bit 3: wildcard expansion, bit 4: extra
// options: a one-of pair and a read-only option); byte 1, when not 0, makes that
// allocation of the store fail; the rest are the arguments, each ended by a NUL
// (the last one may go without).
#include "h2mon/usage_text.h"
#include "h2mon/common/stdtpl.h"
#include "tests/h2mon/common/program_options.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

int allocations_left = 0; // 0: every allocation succeeds

void* failing_allocation(std::size_t size) {
    if (allocations_left > 0 && --allocations_left == 0) {
        return nullptr;
    }
    return std::calloc(1, size);
}

// A violated expectation is a finding.
void expect(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "parse_fuzz: %s\n", what);
        std::abort();
    }
}

bool terminated_within(const char* buffer, std::size_t size) {
    return std::memchr(buffer, '\0', size) != nullptr;
}

void check_store(ProgramOptions& program, bool accepted, int maxpositional, int minpositional) {
    KVSTORE<KVAL>& store = program.store;
    for (int i = 0; i < store.size(); ++i) {
        const KVAL* entry = store.at(i);
        expect(entry != nullptr && entry->bInUse == 1, "entry missing inside the range");
        expect(store.find(entry->pszName) != nullptr, "entry not found by its name");
    }
    expect(store.at(store.size()) == nullptr, "entry past the end");
    expect(terminated_within(program.port, sizeof program.port) &&
               terminated_within(program.fmt, sizeof program.fmt) &&
               terminated_within(program.out, sizeof program.out),
           "text variable overrun");
    int positionals = 0;
    while (store.find(std::to_string(positionals + 1).c_str()) != nullptr) {
        ++positionals;
    }
    if (accepted) {
        expect(store.given("port"), "accepted without the required port");
        expect(positionals <= maxpositional && positionals >= minpositional,
               "accepted with a wrong number of positional arguments");
    }
}

// Wildcards are expanded in a directory of known files, the same on every run:
// a.txt, b.txt, c.log, sub/x.txt and a directory d.txt. It becomes the working
// directory, so the paths given to the fuzzer itself must be absolute.
void enter_sandbox() {
    namespace fs = std::filesystem;
    const fs::path sandbox = fs::temp_directory_path() / "h2-parse-fuzz";
    fs::create_directories(sandbox / "sub");
    fs::create_directories(sandbox / "d.txt");
    for (const char* name : {"a.txt", "b.txt", "c.log", "sub/x.txt"}) {
        std::ofstream(sandbox / name) << name;
    }
    fs::current_path(sandbox);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    enter_sandbox();
    // The parser prints on standard output; the fuzzer reports on standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    kv_set_allocator(&failing_allocation);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const int maxpositional = data[0] & 0x03;
    const int minpositional = (data[0] >> 2) & 0x01;
    const bool wildcards = (data[0] & 0x08) != 0;
    const bool extras = (data[0] & 0x10) != 0;

    std::vector<std::string> arguments{"h2mon"};
    std::string current;
    for (std::size_t i = 2; i < size; ++i) {
        if (data[i] == '\0') {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) {
        arguments.push_back(current);
    }
    std::vector<const char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(a.c_str());
    }

    allocations_left = 0;
    ProgramOptions program;
    if (extras) {
        program.store.addbool("a", nullptr, nullptr, 0, KVF_ONEOF);
        program.store.addbool("b", nullptr, nullptr, 0, KVF_ONEOF);
        program.store.addstr("mode", nullptr, "fixed", 0, KVF_READONLY);
    }
    allocations_left = data[1];
    const bool accepted = program.store.parse(static_cast<int>(argv.size()), argv.data(),
                                              kUsageText, maxpositional, minpositional, wildcards);
    allocations_left = 0;
    check_store(program, accepted, maxpositional, minpositional);
    return 0;
}
