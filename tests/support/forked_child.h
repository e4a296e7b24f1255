// A forked child process that talks with the test through a pipe each way.
#pragma once

#include <functional>

#include <sys/types.h>

class ForkedChild {
public:
    // Forks; the child runs `body` with this object as its end of the pipes, then
    // exits. The parent returns at once.
    explicit ForkedChild(const std::function<void(ForkedChild&)>& body);
    // Kills the child if it still runs, and reaps it.
    ~ForkedChild();
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    // Sends one byte to the other side.
    void tell(char message);
    // Waits for one byte from the other side; 0 when the other side has gone.
    char hear();
    // Ends the child at once, as a crash would (SIGKILL), and reaps it.
    void kill();

private:
    pid_t pid_ = -1;
    int in_ = -1;  // what the other side tells
    int out_ = -1; // what this side tells
};
