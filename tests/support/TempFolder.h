#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace bwtest {

// A scratch folder of its own under the system's temporary folder, removed with everything
// in it (read-only entries too) when the test is done.
class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "bw-test-") {
        std::random_device random;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            Path = base / (std::string(prefix) + std::to_string(random()));
            if (std::filesystem::create_directories(Path)) break;
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(Path, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(Path, ignored);
    }

    std::filesystem::path Path;
};

} // namespace bwtest
