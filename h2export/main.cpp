// h2export: hands the telemetry in h2mon's CSV logs to monitoring.
#include "h2export/backfill.h"
#include "h2export/exporter.h"
#include "h2export/options.h"

#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
    ExportOptions options;
    if (const std::optional<int> code = parse_options(argc, argv, options, std::cout, std::cerr)) {
        return *code;
    }
#ifdef _WIN32
    // Line protocol and OpenMetrics end lines with "\n" alone.
    if (options.backfill || options.influx == "-") {
        _setmode(_fileno(stdout), _O_BINARY);
    }
#endif
    return options.backfill ? run_backfill(options, stdout) : run_follow(options);
}
