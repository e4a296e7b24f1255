// The JSON-like form: one block per frame meant for reading on a console. Not
// strict JSON: hexadecimal values are unquoted and every element ends with a comma.
#pragma once

#include "telemetry/channels.h"
#include "h2mon/output.h"

#include <cstdint>

// "[", the MJD element, one element per shown channel numbered from 1, "]",
// added to `text`.
void print_json_block(const std::uint8_t* frame, const RecordOutput& output, RecordText& text);

// One channel's element, numbered `number`. In console mode names are aligned and
// hexadecimal values brought to the width of a numeric one by spaces for the
// console device, and hexadecimal values are shown in bold black.
void print_json_element(const std::uint8_t* frame, const CHANNEL& channel, int number,
                        const RecordOutput& output, RecordText& text);
