#include "program/command_line.h"

#include "program/version.h"

namespace {

// The checks on an option's value name themselves after its placeholder in
// --help ("DIR:DIR", "PX:INT in [320 - 20000]"); the placeholder says enough,
// and the check's message says the rest when a value fails it. CLI11 gives no
// count of an option's checks: get_validator(index) throws past the last.
void unnamed_checks(CLI::Option& option) {
    for (int index = 0;; ++index) {
        try {
            option.get_validator(index)->description("");
        } catch (const CLI::OptionNotFound&) {
            return;
        }
    }
}

// One value each time the option is given; the values of every time kept.
void one_value_each(CLI::Option& option) {
    if (!option.get_positional() && option.get_type_size() > 0 && option.get_expected_max() > 1) {
        option.expected(1)->allow_extra_args(false)->multi_option_policy(
            CLI::MultiOptionPolicy::TakeAll);
    }
}

} // namespace

void set_up_command_line(CLI::App& app, const char* program) {
    app.name(program);
    app.set_version_flag("--version", version_line(program));
    app.allow_windows_style_options(false);
}

std::optional<int> parse_command_line(CLI::App& app, int argc, const char* const* argv,
                                      std::ostream& out, std::ostream& err,
                                      const std::function<void()>& check) {
    for (CLI::Option* option : app.get_options()) {
        unnamed_checks(*option);
        one_value_each(*option);
    }
    try {
        app.parse(argc, argv);
        check();
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return kExitDone;
    } catch (const CLI::CallForVersion&) {
        out << app.version() << "\n";
        return kExitDone;
    } catch (const CLI::ParseError& e) {
        err << app.get_name() << ": " << e.what() << "\nRun with --help for more information.\n";
        return kExitUsage;
    }
    return std::nullopt;
}
