// A real InfluxDB 1.x server (Debian's influxd) for a test: its own
// configuration and data in a temporary directory, listening on free
// 127.0.0.1 ports, stopped with the object.
#pragma once

#include "tests/h2export/running_export.h"

#include <string>

namespace h2export_test {

class InfluxServer {
public:
    // Starts influxd and waits until it answers; false (with `error`) if it did not.
    bool start(std::string& error);
    ~InfluxServer();

    // Runs the influx client against the server with `args`.
    ProgramRun client(const std::vector<std::string>& args) const;

private:
    h2test::TempDir dir_;
    h2test::ChildProcess influxd_;
    int http_port_ = -1;
};

} // namespace h2export_test
