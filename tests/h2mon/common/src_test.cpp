#include "h2mon/common/src.h"
#include "tests/h2mon/common/capture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Src, MessagesAreTrimmedPrintedByThresholdAndErrorsRecorded) {
    struct Case {
        int level;
        const char* text;
        const char* printed;
        const char* recorded; // szLastError afterwards, starting from "previous"
    };
    const Case cases[] = {
        {7, "\nMissing argument", "\nMissing argument\n", "\nMissing argument"},
        {7, "two line feeds\n\n", "two line feeds\n", "two line feeds"},
        {7, "tabs and blanks \t\r\n", "tabs and blanks\n", "tabs and blanks"},
        {7, " \n", " \n", " "}, // the first character is never trimmed
        {5, "", "\n", "previous"},
        {4, "below the threshold", "", "previous"},
        {6, "printed, not an error", "printed, not an error\n", "previous"},
        {9, "above the error level", "above the error level\n", "above the error level"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        SRC source;
        source.message(7, "previous");
        const std::string printed =
            stdout_of([&] { EXPECT_TRUE(source.message(c.level, "%s", c.text)); });
        EXPECT_EQ(printed, c.printed);
        EXPECT_STREQ(source.szLastError, c.recorded);
    }
}

TEST(Src, RaisedThresholdSilencesErrorsButStillRecordsThem) {
    SRC source("name", 5);
    EXPECT_EQ(source.setlevel(8), 5);
    EXPECT_EQ(stdout_of([&] { source.message(7, "error %d", 42); }), "");
    EXPECT_STREQ(source.szLastError, "error 42");
    EXPECT_EQ(stdout_of([&] { source.message(8, "loud"); }), "loud\n");
}

TEST(Src, ConstructorSetsNameAndThreshold) {
    SRC source("meter", 3);
    EXPECT_STREQ(source.szSrcName, "meter");
    EXPECT_EQ(source.nLevel, 3);
    EXPECT_EQ(source.pParent, nullptr);
    EXPECT_STREQ(source.szLastError, "");
}

// Records the messages handed to its output instead of printing them.
class RecordingSource : public SRC {
public:
    using SRC::SRC;
    bool output(SRC* source, int level, const char* text) override {
        received +=
            std::to_string(level) + ":" + text + (source == this ? "" : " (not self)") + ";";
        return SRC::output(source, level, text);
    }
    std::string received;
};

TEST(Src, ParentTakesChildMessagesAndDecidesWithItsThreshold) {
    RecordingSource parent("A", 6);
    SRC child("B", 5);
    EXPECT_EQ(child.setparent(&parent, true), nullptr);
    EXPECT_STREQ(child.szSrcName, "A::B");
    EXPECT_EQ(child.nLevel, 6);

    const std::string printed = stdout_of([&] {
        child.message(5, "quiet");
        child.message(7, "loud\n");
    });
    EXPECT_EQ(printed, "loud\n");
    EXPECT_EQ(parent.received, "5:quiet;7:loud;");
    EXPECT_STREQ(child.szLastError, "loud");
    EXPECT_STREQ(parent.szLastError, "");

    // Detaching changes only the pointer.
    EXPECT_EQ(child.setparent(nullptr, true), &parent);
    EXPECT_STREQ(child.szSrcName, "A::B");
    EXPECT_EQ(child.nLevel, 6);
}

TEST(Src, NameIsKeptWhenParentIsUnnamedOrCompositionIsOff) {
    SRC unnamed("", 2);
    SRC named("A", 3);
    SRC child("B", 5);
    child.setparent(&unnamed, true);
    EXPECT_STREQ(child.szSrcName, "B");
    EXPECT_EQ(child.nLevel, 2);
    child.setparent(&named, false);
    EXPECT_STREQ(child.szSrcName, "B");
    EXPECT_EQ(child.nLevel, 3);
}

TEST(Src, OverlongTextsAreCut) {
    SRC source(std::string(600, 'n').c_str(), 5);
    EXPECT_EQ(std::string(source.szSrcName), std::string(511, 'n'));

    // Blanks exposed at the cut are trimmed like any other trailing blanks.
    const std::string text = std::string(4000, 'm') + std::string(95, ' ') + "tail";
    const std::string printed = stdout_of([&] { source.message(7, "%s", text.c_str()); });
    EXPECT_EQ(printed, std::string(4000, 'm') + "\n");
    EXPECT_EQ(std::string(source.szLastError), std::string(4000, 'm'));

    const std::string full = std::string(5000, 'x');
    EXPECT_EQ(stdout_of([&] { source.message(7, "%s", full.c_str()); }),
              std::string(4095, 'x') + "\n");

    SRC parent(std::string(400, 'p').c_str(), 5);
    SRC child(std::string(400, 'c').c_str(), 5);
    child.setparent(&parent, true);
    EXPECT_EQ(std::string(child.szSrcName), std::string(400, 'p') + "::" + std::string(109, 'c'));
}

} // namespace
