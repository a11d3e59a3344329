#include "burnwise/records/RecordStore.h"

#include "burnwise/records/StoreInternals.h"

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace burnwise::records {

namespace {
std::atomic<bool (*)()> stopCheck{nullptr};
} // namespace

void SetStopCheck(bool (*stopRequested)()) {
    stopCheck = stopRequested;
}

bool StopRequested() {
    bool (*check)() = stopCheck;
    return check != nullptr && check();
}

namespace {

// "scheme:" at the start of a URL: a letter, then letters, digits, '+', '-' or '.'.
std::string_view Scheme(std::string_view url) {
    const auto colon = url.find(':');
    if (colon == std::string_view::npos || colon < 2) return {};
    for (std::size_t i = 0; i < colon; ++i) {
        const auto c = static_cast<unsigned char>(url[i]);
        if (!(std::isalpha(c) || (i > 0 && (std::isdigit(c) || c == '+' || c == '-' || c == '.'))))
            return {};
    }
    return url.substr(0, colon);
}

constexpr const char* Known = "give sqlite:PATH, the path of an existing SQLite file, a "
                              "postgresql:// URI or a keyword string such as \"host=db1 "
                              "dbname=production\"";

// Masks the value of every "password" keyword of a keyword string.
std::string MaskKeywords(std::string_view text) {
    std::string out;
    std::size_t i = 0;
    auto space = [&] {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
            out += text[i++];
    };
    while (i < text.size()) {
        space();
        const std::size_t keyStart = i;
        while (i < text.size() && text[i] != '=' &&
               !std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        const std::string_view key = text.substr(keyStart, i - keyStart);
        out += key;
        space();
        if (i >= text.size() || text[i] != '=') continue;
        out += text[i++];
        space();
        const std::size_t valueStart = i;
        if (i < text.size() && text[i] == '\'') {
            for (++i; i < text.size() && text[i] != '\''; ++i)
                if (text[i] == '\\') ++i;
            i = std::min(i + 1, text.size());
        } else {
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])))
                ++i;
        }
        out +=
            key == "password" ? std::string_view("***") : text.substr(valueStart, i - valueStart);
    }
    return out;
}

std::string MaskUri(std::string_view url) {
    std::string out(url);
    const auto authority = out.find("://") + 3;
    const auto end = out.find_first_of("/?#", authority);
    const auto at = out.rfind('@', end == std::string::npos ? out.size() : end);
    if (at != std::string::npos && at >= authority) {
        const auto colon = out.find(':', authority);
        if (colon < at) out.replace(colon + 1, at - colon - 1, "***");
    }
    for (auto query = out.find('?'); query != std::string::npos;) {
        const auto key = out.find("password=", query);
        if (key == std::string::npos) break;
        const auto value = key + 9;
        if (key == query + 1 || out[key - 1] == '&') {
            const auto next = out.find('&', value);
            out.replace(value, (next == std::string::npos ? out.size() : next) - value, "***");
        }
        query = out.find('&', value);
    }
    return out;
}

} // namespace

std::string MaskPassword(std::string_view url) {
    if (url.starts_with("postgresql://") || url.starts_with("postgres://")) return MaskUri(url);
    if (url.find('=') != std::string_view::npos) return MaskKeywords(url);
    return std::string(url);
}

std::optional<std::string> DefaultStorePath(std::string& error) {
    std::filesystem::path state;
    const char* xdgState = std::getenv("XDG_STATE_HOME");
    // A relative state folder is to be ignored, as for every XDG folder.
    if (xdgState && *xdgState == '/') {
        state = xdgState;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || *home != '/') {
            error = "no state folder: neither XDG_STATE_HOME nor HOME names one";
            return std::nullopt;
        }
        state = std::filesystem::path(home) / ".local" / "state";
    }
    return (state / "burnwise" / "production.sqlite").string();
}

std::unique_ptr<RecordStore> OpenRecordStore(std::string_view url, OpenMode mode,
                                             std::string& error) {
    const bool create = mode == OpenMode::Create;
    try {
        if (url.empty()) {
            const auto path = DefaultStorePath(error);
            if (!path) return nullptr;
            if (create) {
                const auto folder = std::filesystem::path(*path).parent_path();
                std::error_code failure;
                std::filesystem::create_directories(folder, failure);
                if (failure) {
                    error = "cannot create " + folder.string() + ": " + failure.message();
                    return nullptr;
                }
            }
            return internal::OpenSqliteStore(*path, mode, create, error);
        }
        const std::string_view scheme = Scheme(url);
        if (scheme == "postgresql" || scheme == "postgres") {
            if (!url.starts_with("postgresql://") && !url.starts_with("postgres://")) {
                error = "\"" + MaskPassword(url) +
                        "\" is not a PostgreSQL URI: it starts postgresql:// or postgres://";
                return nullptr;
            }
            return internal::OpenPostgresStore(std::string(url), mode, error);
        }
        if (scheme == "sqlite") {
            if (url.size() == 7) {
                error = "\"sqlite:\" names no file";
                return nullptr;
            }
            return internal::OpenSqliteStore(std::string(url.substr(7)), mode, create, error);
        }
        // libpq takes a text with '=' in it for keywords, as "host=db1 dbname=production".
        if (url.find('=') != std::string_view::npos)
            return internal::OpenPostgresStore(std::string(url), mode, error);
        if (!scheme.empty()) {
            error = "\"" + std::string(url) + "\" is no database this program knows: " + Known;
            return nullptr;
        }
        return internal::OpenSqliteStore(std::string(url), mode, false, error);
    } catch (const std::exception& e) {
        // Only memory can run out here; a store that cannot open is an error, not an abort.
        error = std::string("cannot open the records: ") + e.what();
        return nullptr;
    }
}

std::string SeriesSerial(const SeriesKey& series, std::uint64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < std::size_t(series.Digits))
        digits.insert(0, std::size_t(series.Digits) - digits.size(), '0');
    return series.Prefix + digits;
}

} // namespace burnwise::records
