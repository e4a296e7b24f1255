#include "h2export/log_folder.h"

#include "h2export/options.h"

#include <algorithm>
#include <filesystem>

bool logs_in_folder(const std::string& folder, std::vector<FolderLog>& logs, std::string& error) {
    namespace fs = std::filesystem;
    logs.clear();
    std::error_code failure;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        const fs::path& path = it->path();
        std::error_code type_failure;
        if (path.extension() != ".csv" || !it->is_regular_file(type_failure)) {
            continue;
        }
        const std::string name = path.stem().string();
        if (valid_maser_name(name)) {
            logs.push_back({name, path.string()});
        }
    }
    if (failure) {
        error = folder + ": " + failure.message();
        return false;
    }
    std::sort(logs.begin(), logs.end(),
              [](const FolderLog& a, const FolderLog& b) { return a.name < b.name; });
    return true;
}

std::string folder_of(const std::string& path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\");
#else
    const std::size_t slash = path.rfind('/');
#endif
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}
