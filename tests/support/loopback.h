// Ports for servers that tests start on the loopback address.
#pragma once

namespace h2test {

// A TCP port on 127.0.0.1 that was free a moment ago (the system's choice),
// or -1. Another program can take it before the test's server does; the
// system hands out recently used ports last, so that is rare.
int free_loopback_port();

} // namespace h2test
