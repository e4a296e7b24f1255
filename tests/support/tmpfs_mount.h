// A small tmpfs mounted by a test over a folder: a file system that fills up,
// or one that appears over a log's folder. Needs root; unmounted with the object.
#pragma once

#include <cstddef>
#include <string>

namespace h2test {

class TmpfsMount {
public:
    TmpfsMount() = default;
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;
    ~TmpfsMount() { unmount(); }

    // Whether this process may mount (tests skip otherwise).
    static bool allowed();

    // Mounts a tmpfs of `bytes` over the folder `at`. False with `error` set on failure.
    bool mount(const std::string& at, std::size_t bytes, std::string& error,
               bool read_only = false);
    void unmount();

private:
    std::string at_;
};

} // namespace h2test
