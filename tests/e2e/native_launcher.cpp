// The launcher for the Linux build: runs the h2mon binary itself, on the
// pseudo-terminal's device path, with every capability.
#include "tests/e2e/child_h2mon.h"
#include "tests/support/process.h"

namespace e2e {

namespace {

class NativeLauncher : public Launcher {
public:
    std::string port_name(const std::string& device_path) override { return device_path; }

    std::string missing_port() override { return "/dev/h2mon-test-no-such-port"; }

    std::string system_text(SystemError error) override {
        switch (error) {
        case SystemError::NoSuchPort:
            return "No such file or directory\n";
        case SystemError::LineGone:
            return "Input/output error\n";
        case SystemError::WriteTimedOut:
            return "Connection timed out\n";
        case SystemError::BadModeString:
            return "Invalid argument\n";
        }
        return "";
    }

    bool can(Capability capability) const override {
        return capability != Capability::WindowsConsole;
    }
    bool can_send(StopEvent event) const override {
        return event != StopEvent::EndSession && event != StopEvent::CloseWindow;
    }

    std::string text_file(const std::string& path) override { return h2test::read_text_file(path); }

    std::unique_ptr<H2mon> start(const std::vector<std::string>& args, Input input, Output output,
                                 std::string& error) override {
        std::vector<std::string> argv{H2MON_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        auto h2mon = std::make_unique<ChildH2mon>();
        if (!h2mon->start(argv, {}, input, output, error)) {
            return nullptr;
        }
        return h2mon;
    }
};

} // namespace

Launcher& launcher() {
    static NativeLauncher native;
    return native;
}

} // namespace e2e
