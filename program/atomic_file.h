// Replacing a file's contents so that every reader sees either the old file or
// the new one whole.
#pragma once

#include <cstdio>
#include <string>

// Flushes `file` and waits until its data is on the disk.
bool sync_to_disk(std::FILE* file);

// Writes `text` to a temporary file in the directory of `path` (`temporary`,
// by default `path` with ".tmp" added), then renames it over `path`. With
// `durable`, the data reaches the disk before the rename, so that a power loss
// leaves the old file or the new one, not an empty one.
bool replace_file(const std::string& path, const std::string& text, bool durable,
                  std::string& error, const std::string& temporary = "");
