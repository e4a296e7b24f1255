// The maser's file for node_exporter's textfile collector (and windows_exporter,
// which reads the same format): Prometheus' text format, no timestamps.
#pragma once

#include "h2export/maser_status.h"

#include <string>

// The file's text for `maser` at `now`. Its channel series are there only
// while the maser is up.
std::string render_textfile(const MaserStatus& maser, SteadyClock::time_point now);

// Writes `<dir>/<maser>.prom` whole: to a temporary file beside it, then
// renamed over it, so that a reader sees the old file or the new one, never
// a part. False with `error` set when that fails.
bool write_textfile(const std::string& dir, const std::string& maser, const std::string& text,
                    std::string& error);
