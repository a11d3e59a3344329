#include "burnwise/records/RecordStore.h"

#include "burnwise/records/StoreInternals.h"

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace burnwise::records {

namespace {

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (const char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

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

std::unique_ptr<RecordStore> OpenPostgresUrl(std::string_view url, std::string& error) {
    const std::string shape = "\"" + std::string(url) +
                              "\" is not a PostgreSQL URL of the form "
                              "postgresql://USER@HOST:PORT/NAME";
    std::string_view rest = url.substr(std::string_view("postgresql://").size());
    const auto at = rest.find('@');
    const auto slash = rest.find('/');
    if (at == std::string_view::npos || slash == std::string_view::npos || at > slash) {
        error = shape;
        return nullptr;
    }
    const std::string_view user = rest.substr(0, at);
    const std::string_view hostPort = rest.substr(at + 1, slash - at - 1);
    const std::string_view name = rest.substr(slash + 1);
    const auto colon = hostPort.rfind(':');
    const std::string_view host = hostPort.substr(0, colon);
    const std::string_view port =
        colon == std::string_view::npos ? std::string_view{} : hostPort.substr(colon + 1);
    auto clean = [](std::string_view part) {
        return !part.empty() && part.find_first_of(":@/?#% \t") == std::string_view::npos;
    };
    if (!clean(user) || !clean(host) || !clean(name) || !AllDigits(port) || port.size() > 5 ||
        std::atoi(std::string(port).c_str()) < 1 || std::atoi(std::string(port).c_str()) > 65535) {
        error = shape;
        return nullptr;
    }
    return internal::OpenPostgresStore(std::string(user), std::string(host), std::string(port),
                                       std::string(name), error);
}

} // namespace

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

std::unique_ptr<RecordStore> OpenRecordStore(std::string_view url, std::string& error) {
    try {
        if (url.empty()) {
            const auto path = DefaultStorePath(error);
            if (!path) return nullptr;
            const auto folder = std::filesystem::path(*path).parent_path();
            std::error_code failure;
            std::filesystem::create_directories(folder, failure);
            if (failure) {
                error = "cannot create " + folder.string() + ": " + failure.message();
                return nullptr;
            }
            return internal::OpenSqliteStore(*path, error);
        }
        const std::string_view scheme = Scheme(url);
        if (scheme == "postgresql") {
            if (url.substr(0, 13) != "postgresql://") {
                error = "\"" + std::string(url) +
                        "\" is not a PostgreSQL URL of the form postgresql://USER@HOST:PORT/NAME";
                return nullptr;
            }
            return OpenPostgresUrl(url, error);
        }
        if (scheme == "sqlite") {
            if (url.size() == 7) {
                error = "\"sqlite:\" names no file";
                return nullptr;
            }
            return internal::OpenSqliteStore(std::string(url.substr(7)), error);
        }
        if (!scheme.empty()) {
            error = "\"" + std::string(url) +
                    "\" is no database this program knows: give a file, sqlite:PATH or "
                    "postgresql://USER@HOST:PORT/NAME";
            return nullptr;
        }
        return internal::OpenSqliteStore(std::string(url), error);
    } catch (const std::exception& e) {
        // Only memory can run out here; a store that cannot open is an error, not an abort.
        error = std::string("cannot open the records: ") + e.what();
        return nullptr;
    }
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool IsUtcTime(std::string_view text) {
    static constexpr std::string_view Shape = "DDDD-DD-DDTDD:DD:DDZ";
    if (text.size() != Shape.size()) return false;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(text[i]));
        if (Shape[i] == 'D' ? !digit : text[i] != Shape[i]) return false;
    }
    auto number = [&](std::size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
    const int month = number(5), day = number(8), hour = number(11), minute = number(14),
              second = number(17);
    return month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 &&
           second <= 60;
}

std::string SeriesSerial(const SeriesKey& series, std::uint64_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < std::size_t(series.Digits))
        digits.insert(0, std::size_t(series.Digits) - digits.size(), '0');
    return series.Prefix + digits;
}

} // namespace burnwise::records
