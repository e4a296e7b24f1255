// How long a terminal device holds received bytes back, learned from sysfs.
#pragma once

#include <cstdint>
#include <string>

// The hold-back of the terminal device open on `fd`, as port_hold_back_ms gives
// it, looked up in the sysfs tree at `sysfs_root` ("/sys"; a test's own tree).
std::int32_t device_hold_back_ms(int fd, const std::string& sysfs_root);
