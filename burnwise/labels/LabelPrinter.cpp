#include "burnwise/labels/LabelPrinter.h"

#include "common/FileAccess.h"

#include <cerrno>
#include <cstring>
#include <cups/cups.h>
#include <system_error>

namespace burnwise::labels {
namespace {

// A print service that is there answers a local connection at once; one that is gone or
// hung must not hold the line up.
constexpr int ConnectTimeoutMs = 3000;
constexpr double SilenceTimeoutSeconds = 5.0;

HandOver Failed(std::string reason) {
    return {false, {}, std::move(reason)};
}

class FolderLabels final : public LabelOutput {
public:
    explicit FolderLabels(std::filesystem::path folder) : folder_(std::move(folder)) {}

    HandOver Send(std::string_view serial, std::string_view pdf) override {
        std::error_code error;
        if (!std::filesystem::is_directory(folder_, error))
            return Failed("no folder " + folder_.string());
        const std::filesystem::path file = folder_ / LabelFileName(serial);
        if (!common::ReplaceFileAtomically(file, pdf, error))
            return Failed("cannot write " + file.string() + ": " + error.message());
        return {true, file.string(), {}};
    }

    std::string Where() const override { return folder_.string(); }

private:
    std::filesystem::path folder_;
};

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
struct DestFreer {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};
struct IppFreer {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

using Connection = std::unique_ptr<http_t, HttpCloser>;

// The print service the user's settings name, or nothing with `error` saying why not.
Connection Connect(std::string& error) {
    const char* server = cupsServer();
    Connection http(httpConnect2(server, ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                 ConnectTimeoutMs, nullptr));
    if (!http) {
        // errno says why only when the connection itself failed.
        const int why = errno;
        const bool told = why == ECONNREFUSED || why == ENOENT || why == ETIMEDOUT ||
                          why == EHOSTUNREACH || why == ENETUNREACH || why == EACCES;
        error = std::string("the print service at ") + server + " cannot be reached" +
                (told ? std::string(": ") + std::strerror(why) : std::string());
        return nullptr;
    }
    httpSetTimeout(
        http.get(), SilenceTimeoutSeconds, [](http_t*, void*) { return 0; }, nullptr);
    return http;
}

std::string LastError() {
    const char* text = cupsLastErrorString();
    return text && *text ? text : "no answer";
}

class QueueLabels final : public LabelOutput {
public:
    explicit QueueLabels(std::string queue) : queue_(std::move(queue)) {}

    HandOver Send(std::string_view serial, std::string_view pdf) override {
        std::string unreachable;
        const Connection http = Connect(unreachable);
        if (!http) return Failed(unreachable);

        // The default destination is the one name that needs asking for.
        std::string name = queue_;
        if (name.empty()) {
            const std::unique_ptr<cups_dest_t, DestFreer> dest(
                cupsGetNamedDest(http.get(), nullptr, nullptr));
            if (!dest) {
                if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
                    cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND)
                    return Failed("the print service failed: " + LastError());
                return Failed("the print service has no default queue");
            }
            name = dest->name;
        }
        const std::string resource = "/printers/" + name;
        const std::string uri = "ipp://localhost" + resource;

        // One request for the queue's state: a stopped printer would hold the job, and the
        // label is wanted now.
        ipp_t* ask = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
        static const char* const wanted[] = {"printer-state", "printer-is-accepting-jobs"};
        ippAddStrings(ask, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 2, nullptr,
                      wanted);
        const std::unique_ptr<ipp_t, IppFreer> state(
            cupsDoRequest(http.get(), ask, resource.c_str()));
        if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND)
            return Failed("no print queue \"" + name + "\"");
        if (!state || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
            return Failed("print queue \"" + name + "\" does not answer: " + LastError());
        if (ippGetInteger(ippFindAttribute(state.get(), "printer-state", IPP_TAG_ENUM), 0) ==
            IPP_PSTATE_STOPPED)
            return Failed("print queue \"" + name + "\" is stopped");
        if (ipp_attribute_t* accepting =
                ippFindAttribute(state.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN);
            accepting && !ippGetBoolean(accepting, 0))
            return Failed("print queue \"" + name + "\" does not accept jobs");

        const std::string title(serial);
        const int id = cupsCreateJob(http.get(), name.c_str(), title.c_str(), 0, nullptr);
        if (id <= 0) return Failed("print queue \"" + name + "\" refused the job: " + LastError());
        const auto abandon = [&](const std::string& why) {
            cupsCancelJob2(http.get(), name.c_str(), id, 0);
            return Failed("print queue \"" + name + "\" did not take the label: " + why);
        };
        if (cupsStartDocument(http.get(), name.c_str(), id, title.c_str(), CUPS_FORMAT_PDF, 1) !=
            HTTP_STATUS_CONTINUE)
            return abandon(LastError());
        if (cupsWriteRequestData(http.get(), pdf.data(), pdf.size()) != HTTP_STATUS_CONTINUE)
            return abandon(LastError());
        if (cupsFinishDocument(http.get(), name.c_str()) > IPP_STATUS_OK_EVENTS_COMPLETE)
            return abandon(LastError());
        return {true, name + "-" + std::to_string(id), {}};
    }

    std::string Where() const override { return queue_.empty() ? "the default queue" : queue_; }

private:
    static ipp_t* NewRequest(ipp_op_t operation, const std::string& uri) {
        ipp_t* request = ippNewRequest(operation);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                     cupsUser());
        return request;
    }

    std::string queue_;
};

} // namespace

std::string LabelFileName(std::string_view serial) {
    std::string name;
    for (const char c : serial) {
        const auto byte = static_cast<unsigned char>(c);
        const bool safe = (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
                          (byte >= 'a' && byte <= 'z') || c == '-' || c == '_' ||
                          (c == '.' && !name.empty());
        name += safe ? c : '_';
    }
    if (name.empty()) name = "_";
    return name + ".pdf";
}

std::optional<std::vector<PrintDestination>> PrintDestinations(std::string& error) {
    const Connection http = Connect(error);
    if (!http) return std::nullopt;
    ipp_t* ask = ippNewRequest(IPP_OP_CUPS_GET_PRINTERS);
    ippAddString(ask, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "printer-name");
    const std::unique_ptr<ipp_t, IppFreer> answer(cupsDoRequest(http.get(), ask, "/"));
    std::vector<PrintDestination> found;
    // A service without queues answers "not found".
    if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return found;
    if (!answer || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
        error = "the print service failed: " + LastError();
        return std::nullopt;
    }
    for (ipp_attribute_t* name = ippFindAttribute(answer.get(), "printer-name", IPP_TAG_NAME);
         name != nullptr; name = ippFindNextAttribute(answer.get(), "printer-name", IPP_TAG_NAME))
        if (const char* text = ippGetString(name, 0, nullptr)) found.push_back({text, false});

    const std::unique_ptr<ipp_t, IppFreer> fallback(
        cupsDoRequest(http.get(), ippNewRequest(IPP_OP_CUPS_GET_DEFAULT), "/"));
    if (const char* name = ippGetString(
            ippFindAttribute(fallback.get(), "printer-name", IPP_TAG_NAME), 0, nullptr))
        for (PrintDestination& destination : found)
            destination.IsDefault = destination.Name == name;
    return found;
}

std::unique_ptr<LabelOutput> FolderOutput(std::filesystem::path folder) {
    return std::make_unique<FolderLabels>(std::move(folder));
}

std::unique_ptr<LabelOutput> PrintQueueOutput(std::string queue) {
    return std::make_unique<QueueLabels>(std::move(queue));
}

} // namespace burnwise::labels
