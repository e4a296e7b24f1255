#include "tests/h2export/influx_server.h"

#include "tests/support/loopback.h"

#include <csignal>
#include <thread>

namespace h2export_test {

using std::chrono::milliseconds;

bool InfluxServer::start(std::string& error) {
    http_port_ = h2test::free_loopback_port();
    const int rpc_port = h2test::free_loopback_port();
    const std::string& d = dir_.path();
    const std::string config = "reporting-disabled = true\n"
                               "bind-address = \"127.0.0.1:" +
                               std::to_string(rpc_port) +
                               "\"\n"
                               "[meta]\n  dir = \"" +
                               d + "/meta\"\n[data]\n  dir = \"" + d + "/data\"\n  wal-dir = \"" +
                               d +
                               "/wal\"\n  query-log-enabled = false\n"
                               "[http]\n  bind-address = \"127.0.0.1:" +
                               std::to_string(http_port_) +
                               "\"\n  log-enabled = false\n"
                               "[monitor]\n  store-enabled = false\n"
                               "[continuous_queries]\n  enabled = false\n"
                               "[logging]\n  level = \"warn\"\n";
    const std::string config_path = dir_.file("influxdb.conf");
    if (!h2test::write_text_file(config_path, config) ||
        !influxd_.start({"/usr/bin/influxd", "run", "-config", config_path}, error)) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (client({"-execute", "SHOW DATABASES"}).exit_code == 0) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(100));
    }
    error = "influxd did not answer: " + influxd_.read_stderr(milliseconds(100));
    return false;
}

InfluxServer::~InfluxServer() {
    int status;
    if (influxd_.signal(SIGTERM)) {
        influxd_.wait_exit(status, milliseconds(5000));
    }
}

ProgramRun InfluxServer::client(const std::vector<std::string>& args) const {
    std::vector<std::string> argv{"/usr/bin/influx", "-host", "127.0.0.1", "-port",
                                  std::to_string(http_port_)};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv);
}

} // namespace h2export_test
