// History: whole logs as OpenMetrics with timestamps, which
// `promtool tsdb create-blocks-from openmetrics` turns into Prometheus blocks.
#pragma once

#include "h2export/options.h"

#include <cstdio>

// Writes every record of every followed log (plain or gzip-compressed; "-"
// is standard input) to `out`. Returns the exit code: 0, or 1 when a log
// cannot be opened, a log is damaged (its records before the damage are
// written) or the output cannot be written.
int run_backfill(const ExportOptions& options, std::FILE* out);
