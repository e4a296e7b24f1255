// A USB adapter's latency timer for a device that has none: a program run in a
// mount namespace of its own, where sysfs shows the device as the usb-serial
// driver of an FTDI chip shows its adapter. With h2sim's --hold-back, which
// holds bytes back as such an adapter does, h2mon then sees a slow adapter on a
// pseudo-terminal.
#pragma once

#include <string>
#include <vector>

namespace h2test {

// The command words that run a program (its path and arguments follow them)
// where /sys/dev/char/MAJOR:MINOR/device/latency_timer of the character device
// at `device_path` reads `latency_ms`. The rest of /sys/dev/char is hidden from
// it. Empty when the device cannot be found.
std::vector<std::string> with_latency_timer(const std::string& device_path, int latency_ms);

// Whether such a namespace can be made here (a user and mount namespace, which
// an unprivileged user may make where the kernel allows it).
bool latency_timer_possible();

} // namespace h2test
