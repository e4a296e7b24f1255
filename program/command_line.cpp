#include "program/command_line.h"

#include "program/version.h"

void set_up_command_line(CLI::App& app, const char* program) {
    app.name(program);
    app.set_version_flag("--version", version_line(program));
    app.allow_windows_style_options(false);
}

std::optional<int> parse_command_line(CLI::App& app, int argc, const char* const* argv,
                                      std::ostream& out, std::ostream& err,
                                      const std::function<void()>& check) {
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
