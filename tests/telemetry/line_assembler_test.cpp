#include "telemetry/line_assembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Collected {
    std::vector<std::string> lines;
    int overlong = 0;
};

// Feeds `stream` cut into pieces of `piece` bytes.
Collected assemble(const std::string& stream, std::size_t piece, std::size_t max_line) {
    LineAssembler assembler(max_line);
    Collected out;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        assembler.feed(
            std::string_view(stream).substr(at, piece),
            [&](std::string_view line) { out.lines.emplace_back(line); }, [&] { ++out.overlong; });
    }
    return out;
}

TEST(LineAssembler, WholeLinesWhateverThePieces) {
    const std::string stream = "first\nsecond line\n\nlast without end";
    for (std::size_t piece : {1u, 2u, 5u, 100u}) {
        const Collected out = assemble(stream, piece, 64);
        EXPECT_EQ(out.lines, (std::vector<std::string>{"first", "second line", ""})) << piece;
        EXPECT_EQ(out.overlong, 0);
    }
}

TEST(LineAssembler, OverlongLinesAreReportedOnceAndSkipped) {
    const std::string stream = std::string(50, 'x') + "\nok\n" + std::string(9, 'y') + "\nfits\n";
    for (std::size_t piece : {1u, 7u, 100u}) {
        const Collected out = assemble(stream, piece, 8);
        EXPECT_EQ(out.lines, (std::vector<std::string>{"ok", "fits"})) << piece;
        EXPECT_EQ(out.overlong, 2) << piece;
    }
}

TEST(LineAssembler, ResetForgetsTheUnfinishedLine) {
    LineAssembler assembler;
    std::vector<std::string> lines;
    const auto keep = [&](std::string_view line) { lines.emplace_back(line); };
    assembler.feed("half a li", keep, [] {});
    EXPECT_EQ(assembler.pending(), 9u);
    assembler.reset();
    assembler.feed("new\n", keep, [] {});
    EXPECT_EQ(lines, std::vector<std::string>{"new"});
}

// A line end or a hole is found wherever it falls, here across the blocks
// the search looks at together.
TEST(LineAssembler, ALineEndOrAHoleAnywhereInALongLine) {
    for (std::size_t at = 0; at < 80; ++at) {
        for (const char end : {'\n', '\0'}) {
            const std::string stream = std::string(at, 'x') + end + "tail\n";
            const Collected out = assemble(stream, stream.size(), 128);
            const std::string first = end == '\n' ? std::string(at, 'x') : std::string(1, '\0');
            EXPECT_EQ(out.lines, (std::vector<std::string>{first, "tail"}))
                << at << (end == '\n' ? " line end" : " hole");
        }
    }
}

TEST(LineAssembler, AHandlerThatSaysStopEndsTheFeedingAfterItsLine) {
    LineAssembler assembler;
    std::vector<std::string> lines;
    const auto until_b = [&](std::string_view line) {
        lines.emplace_back(line);
        return line != "b";
    };
    const std::string_view stream = "a\nb\nc\n";
    const std::size_t taken = assembler.feed(stream, until_b, [] {});
    EXPECT_EQ(taken, 4u);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(assembler.feed(stream.substr(taken), until_b, [] {}), 2u);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c"}));
}

} // namespace
