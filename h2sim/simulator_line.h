// The simulated maser's end of the serial line: a pseudo-terminal whose slave
// side is the port the program opens.
#pragma once

#include <string>

class SimulatorLine {
public:
    SimulatorLine() = default;
    SimulatorLine(const SimulatorLine&) = delete;
    SimulatorLine& operator=(const SimulatorLine&) = delete;
    ~SimulatorLine() { close(); }

    // Creates the pair: the master non-blocking, the line in raw mode (no echo,
    // no character translation, no flow-control characters) so that every
    // byte passes unchanged both ways from the start, and a slave descriptor
    // kept open so that the line outlives the program closing and reopening
    // its port. Fails with the reason in `error`.
    bool open(std::string& error);

    // Closes both ends: the program's next read on the slave sees the line
    // hung up.
    void close();

    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

    // Bytes written to the master that no reader has taken from the slave yet.
    int unread_by_slave() const;

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

// A symbolic link to the slave under a stable name, removed again when the
// simulator ends (only if it still points to this slave).
class SlaveLink {
public:
    SlaveLink() = default;
    SlaveLink(const SlaveLink&) = delete;
    SlaveLink& operator=(const SlaveLink&) = delete;
    ~SlaveLink() { remove(); }

    // Replaces an existing symbolic link at `path`; refuses to replace
    // anything else.
    bool create(const std::string& path, const std::string& target, std::string& error);
    void remove();

private:
    std::string path_;
    std::string target_;
};
