// Golden files: what a program makes today against what was kept and
// committed. One switch rewrites every golden from what the code makes:
//
//     H2_UPDATE_GOLDENS=1 ctest --preset dev -R NAME
//
// then review the difference (git diff) and commit it.
#pragma once

#include <string>

namespace h2test {

// Whether the goldens are to be rewritten: H2_UPDATE_GOLDENS=1 in the
// environment, or `legacy`=1 for an older switch still documented.
bool updating_goldens(const char* legacy = nullptr);

// Compares `made` with the golden file at `path`, rewriting the file first
// when updating_goldens(legacy). Empty when they match; else what differs
// (the first line that does) and how to update.
std::string golden_mismatch(const std::string& path, const std::string& made,
                            const char* legacy = nullptr);

} // namespace h2test
