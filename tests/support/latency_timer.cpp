#include "tests/support/latency_timer.h"

#include "tests/support/process.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace h2test {

namespace {

// A user namespace maps the caller to root, which may mount in the mount
// namespace made with it; the tmpfs over /sys/dev/char is seen by no one else.
const std::vector<std::string> kNamespace = {"/usr/bin/unshare", "--user", "--map-root-user",
                                             "--mount"};

} // namespace

std::vector<std::string> with_latency_timer(const std::string& device_path, int latency_ms) {
    struct stat status {};
    if (::stat(device_path.c_str(), &status) != 0 || !S_ISCHR(status.st_mode)) {
        return {};
    }
    const std::string device = "/sys/dev/char/" + std::to_string(major(status.st_rdev)) + ":" +
                               std::to_string(minor(status.st_rdev)) + "/device";
    std::vector<std::string> command = kNamespace;
    command.insert(command.end(), {"/bin/sh", "-c",
                                   "mount -t tmpfs h2test /sys/dev/char && mkdir -p " + device +
                                       " && echo " + std::to_string(latency_ms) + " > " + device +
                                       "/latency_timer && exec \"$@\"",
                                   "sh"});
    return command;
}

bool latency_timer_possible() {
    std::vector<std::string> command = kNamespace;
    command.insert(command.end(), {"/bin/sh", "-c", "mount -t tmpfs h2test /sys/dev/char"});
    return run_program(command).exit_code == 0;
}

} // namespace h2test
