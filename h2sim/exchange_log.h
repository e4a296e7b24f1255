// The exchange log (--log): one line for every poll; the format is described
// in exchange_log.cpp.
#pragma once

#include "h2sim/exchange.h"

#include <cstdio>
#include <string>

class ExchangeLog {
public:
    ExchangeLog() = default;
    ExchangeLog(const ExchangeLog&) = delete;
    ExchangeLog& operator=(const ExchangeLog&) = delete;
    ~ExchangeLog();

    // Creates or empties the file.
    bool open(const std::string& path, std::string& error);
    bool is_open() const { return file_ != nullptr; }
    // Ends every line with the exchange's times as well.
    void add_times() { times_ = true; }

    // Writes and flushes the exchange's line.
    void write(const Exchange& exchange, bool clean);

private:
    std::FILE* file_ = nullptr;
    bool times_ = false;
};

// The line for an exchange, without its line end; with `times`, the times too.
std::string exchange_log_line(const Exchange& exchange, bool clean, bool times = false);
