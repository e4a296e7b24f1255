// The simulated maser: reads polls from the line, answers them, logs the
// exchanges.
#pragma once

#include "h2sim/exchange_log.h"
#include "h2sim/fault_plan.h"
#include "h2sim/frame_model.h"
#include "h2sim/line_account.h"
#include "h2sim/options.h"
#include "h2sim/simulator_line.h"
#include "h2sim/request_parser.h"
#include "h2sim/transmitter.h"

#include <poll.h>
#include <vector>

class Simulator {
public:
    // `file_frames` empty: frames come from the model. `log` may be closed.
    Simulator(const Options& options, std::vector<Frame> file_frames, SimulatorLine& line,
              ExchangeLog& log);

    // Runs until a stop signal arrives on `stop_fd` (returns 0), the line is
    // closed after the last poll of --close-after (0), or the line fails (1,
    // with a message on standard error). Waits in ppoll the whole time: idle,
    // it costs nothing.
    int run(int stop_fd);

private:
    enum class Outcome { Running, Done, Failed };

    bool wait(pollfd (&fds)[2]);
    Outcome serve(short line_events, Nanos now);
    Frame frame_for(std::uint64_t poll, Nanos now) const;
    bool read_requests(Nanos now);
    void handle(const RequestEvent& event, Nanos now);
    void answer(const RequestEvent& poll, Nanos now);
    bool send_due(Nanos now);
    void settle_finished();
    bool closing_done(Nanos now);
    Nanos next_deadline() const;

    const Options& options_;
    std::vector<Frame> file_frames_;
    FrameModel model_;
    FaultPlan faults_;
    SimulatorLine& line_;
    ExchangeLog& log_;
    RequestParser parser_;
    Transmitter transmitter_;
    LineAccount account_;
    Nanos pace_;
    std::uint64_t polls_ = 0;
    Nanos story_start_;        // when a scenario's story begins
    double story_start_mjd_;   // and that moment's UTC time
    Nanos closing_since_ = -1; // the last answer is out; the line closes once it is read
};
