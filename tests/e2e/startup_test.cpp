// Start-up: the usage text, every start-up error with its message and exit code,
// and whether the port was touched.
#include "tests/e2e/fixture.h"

#include <sys/inotify.h>
#include <unistd.h>

namespace e2e {
namespace {

// Counts the opens and closes of one file, as the system reports them.
class OpenWatch {
public:
    explicit OpenWatch(const std::string& path) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE);
    }
    ~OpenWatch() { ::close(fd_); }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;

    // Opens and closes since the watch began.
    std::pair<int, int> opens_and_closes() {
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) {
            for (char* next = buffer; next < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(next);
                opens_ += (event->mask & IN_OPEN) != 0 ? 1 : 0;
                closes_ += (event->mask & IN_CLOSE) != 0 ? 1 : 0;
                next += sizeof(inotify_event) + event->len;
            }
        }
        return {opens_, closes_};
    }

private:
    int fd_;
    int opens_ = 0;
    int closes_ = 0;
};

enum class PortUse { Untouched, OpenedAndRestored };

// Arguments and expected output may hold placeholders: {port} a good port (the
// whole argument), {port-name} its name, {missing} a port that does not exist,
// {no-such-port} the system's text for it, {bad-mode-string} the system's text
// for a mode string that does not parse, {usage} the usage text without its last
// line end.
struct StartupCase {
    const char* what;
    std::vector<std::string> args;
    std::string expected;
    int code;
    PortUse port;
};

const StartupCase kCases[] = {
    {"no arguments", {}, diagnostic(R"(Missing argument ("port"))"), 1, PortUse::Untouched},
    {"help", {"/?"}, "{usage}\n", 1, PortUse::Untouched},
    {"help, whatever follows", {"-?x", "/bogus", "{port}"}, "{usage}\n", 1, PortUse::Untouched},
    {"unrecognized option",
     {"{port}", "/colour:red"},
     diagnostic(R"(Unrecognized argument ("colour"))"),
     1,
     PortUse::Untouched},
    {"option given twice, the usage showing the value stored first",
     {"/baud:19200", "{port}", "/BAUD=4800"},
     "\n{usage-baud-19200}\n\nDuplicate arguments (\"BAUD\")\n",
     1,
     PortUse::Untouched},
    {"option without its value",
     {"{port}", "/interval_ms"},
     diagnostic(R"(Value must be supplied for argument "interval_ms")"),
     1,
     PortUse::Untouched},
    {"positional argument",
     {"{port}", "COM3"},
     diagnostic(R"(Unrecognized argument ("COM3"))"),
     1,
     PortUse::Untouched},
    {"port that does not exist",
     {"/port:{missing}"},
     "Error connecting to {missing}: {no-such-port}",
     1,
     PortUse::Untouched},
    {"unsupported format on a good port",
     {"{port}", "/fmt:xml"},
     "Error: unsupported format (xml)\n",
     1,
     PortUse::OpenedAndRestored},
    {"unsupported format on a port that does not exist: the connection error first",
     {"/fmt:xml", "/port:{missing}"},
     "Error connecting to {missing}: {no-such-port}",
     1,
     PortUse::Untouched},
    {"a number that does not fit its option, refused before the port is opened",
     {"{port}", "/interval_ms:99999999999"},
     "Error: interval_ms out of range (99999999999)\n",
     1,
     PortUse::Untouched},
    {"a rate that does not fit",
     {"/baud=4294967296", "{port}"},
     "Error: baud out of range (4294967296)\n",
     1,
     PortUse::Untouched},
    {"a mode string that does not parse",
     {"/port={port-name}:baud=9600 parity=X"},
     "Error connecting to {port-name}:baud=9600 parity=X: {bad-mode-string}",
     1,
     PortUse::OpenedAndRestored},
    {"negative interval, refused before the port is opened",
     {"{port}", "/interval_ms:-5"},
     "Error: reading interval must not be negative (-5)\n",
     1,
     PortUse::Untouched},
};

class StartupTest : public E2eTest {
protected:
    std::string fill_in(std::string text) {
        std::string usage = golden("usage.txt");
        usage.pop_back();
        std::string usage_baud = usage;
        replace_all(usage_baud, "Default: 9600", "Default: 19200");
        replace_all(text, "{usage-baud-19200}", usage_baud);
        replace_all(text, "{usage}", usage);
        replace_all(text, "{port}", port_arg(line_.path()));
        replace_all(text, "{port-name}", launcher().port_name(line_.path()));
        replace_all(text, "{missing}", launcher().missing_port());
        replace_all(text, "{no-such-port}", launcher().system_text(SystemError::NoSuchPort));
        replace_all(text, "{bad-mode-string}", launcher().system_text(SystemError::BadModeString));
        return text;
    }

    MaserLine line_;
};

TEST_F(StartupTest, EveryStartupErrorPrintsItsMessageAndEndsWithCode1) {
    for (const StartupCase& c : kCases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args;
        for (const std::string& arg : c.args) {
            args.push_back(fill_in(arg));
        }
        line_.change_settings(distinctive_line_settings(line_.settings()));
        const termios before = line_.settings();
        OpenWatch watch(line_.path());

        auto h2mon = start(args);
        ASSERT_NE(h2mon, nullptr);
        expect_exit(*h2mon, c.code);
        EXPECT_EQ(h2mon->output(), fill_in(c.expected));

        const auto [opens, closes] = watch.opens_and_closes();
        if (c.port == PortUse::Untouched) {
            EXPECT_EQ(opens, 0) << "the port was opened";
        } else {
            EXPECT_GE(opens, 1) << "the port was never opened";
            EXPECT_EQ(closes, opens) << "the port was left open";
            expect_same_line_settings(line_.settings(), before);
        }
    }
}

} // namespace
} // namespace e2e
