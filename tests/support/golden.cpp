#include "tests/support/golden.h"

#include "tests/support/process.h"

#include <cstdlib>
#include <filesystem>

namespace h2test {

namespace {

bool set_to_one(const char* name) {
    const char* value = name != nullptr ? std::getenv(name) : nullptr;
    return value != nullptr && std::string(value) == "1";
}

// The first line where the two differ, counted from 1, with both versions.
std::string first_difference(const std::string& kept, const std::string& made) {
    std::size_t at = 0;
    int line = 1;
    while (at < kept.size() && at < made.size() && kept[at] == made[at]) {
        line += kept[at] == '\n';
        ++at;
    }
    const auto line_of = [&](const std::string& text) {
        const std::size_t start = text.rfind('\n', at == 0 ? 0 : at - 1);
        const std::size_t from = start == std::string::npos || at == 0 ? 0 : start + 1;
        return text.substr(from, std::min<std::size_t>(text.find('\n', from) - from, 200));
    };
    return "line " + std::to_string(line) + " kept \"" + line_of(kept) + "\", made \"" +
           line_of(made) + "\"";
}

} // namespace

bool updating_goldens(const char* legacy) {
    return set_to_one("H2_UPDATE_GOLDENS") || set_to_one(legacy);
}

std::string golden_mismatch(const std::string& path, const std::string& made, const char* legacy) {
    if (updating_goldens(legacy) && !write_text_file(path, made)) {
        return "cannot write " + path;
    }
    if (!std::filesystem::exists(path)) {
        return path + " does not exist: run the test with H2_UPDATE_GOLDENS=1 to make it, "
                      "then commit it";
    }
    const std::string kept = read_text_file(path);
    if (kept == made) {
        return "";
    }
    return path + " is stale (" + first_difference(kept, made) +
           "): run the test with H2_UPDATE_GOLDENS=1, review the difference and commit it";
}

} // namespace h2test
