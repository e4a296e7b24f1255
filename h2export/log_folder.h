// A folder of h2mon logs, one maser per "NAME.csv" file: what --follow-dir
// follows. Rotated files ("east.csv.1", "east.csv.2.gz") do not end in ".csv"
// and are not masers of their own.
#pragma once

#include <string>
#include <vector>

struct FolderLog {
    std::string name; // the file's stem: "east" for "east.csv"
    std::string path;
};

// The folder a file's path lies in: "." for a bare name.
std::string folder_of(const std::string& path);

// The logs in `folder` now, by name. False when the folder cannot be read
// (`error` says why); files whose stem is no maser name are left out.
bool logs_in_folder(const std::string& folder, std::vector<FolderLog>& logs, std::string& error);
