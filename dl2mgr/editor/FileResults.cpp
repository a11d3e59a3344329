#include "dl2mgr/editor/FileResults.h"

#include "common/FileAccess.h"

#include <chrono>
#include <cstring>
#include <string_view>

namespace dl2mgr::editor {

namespace {

std::string Reason(const std::string& what, const std::filesystem::path& path, int err) {
    return what + " " + path.string() + ": " + std::strerror(err);
}

std::string ReadError(const common::BoundedRead& read, const std::filesystem::path& path,
                      std::size_t cap) {
    const std::string cannot = "Cannot read " + path.string() + ": ";
    switch (read.Failure) {
    case common::ReadFailure::Open:
        return Reason("Cannot open", path, read.Code);
    case common::ReadFailure::Folder:
        return cannot + "it is a folder, not a file";
    case common::ReadFailure::NotAStream:
        return cannot + "it is neither a file nor a stream";
    case common::ReadFailure::TimedOut:
        return cannot + "it did not end within " + std::to_string(StreamReadLimitMs / 1000) +
               " seconds";
    case common::ReadFailure::TooLong:
        return cannot + "it holds more than " + std::to_string(cap) + " bytes";
    case common::ReadFailure::Inspect:
    case common::ReadFailure::Read:
        return Reason("Cannot read", path, read.Code);
    case common::ReadFailure::None:
        break;
    }
    return {};
}

FileReplace Told(const common::ReplaceResult& result) {
    using common::ReplaceFailure;
    FileReplace told;
    const std::filesystem::path& path = result.Target;
    const auto refused = [&told](FileReplace::Outcome outcome, std::string error) {
        told.Result = outcome;
        told.Error = std::move(error);
        return told;
    };
    constexpr auto Create = FileReplace::Outcome::CannotCreate;
    constexpr auto Write = FileReplace::Outcome::CannotWrite;
    switch (result.Failure) {
    case ReplaceFailure::None:
        return told;
    case ReplaceFailure::FollowLink:
        return refused(Create, Reason("Cannot follow the link", path, result.Code));
    case ReplaceFailure::Folder:
        return refused(Create, "Cannot write " + path.string() + ": it is a folder");
    case ReplaceFailure::NotRegular:
        return refused(Create, "Cannot write " + path.string() + ": it is not a regular file");
    case ReplaceFailure::WriteProtected:
        return refused(Create, "Cannot write " + path.string() + ": it is write-protected");
    case ReplaceFailure::NotWritable:
        return refused(Create, Reason("Cannot write", path, result.Code));
    case ReplaceFailure::Inspect:
    case ReplaceFailure::Create:
        return refused(Create, Reason("Cannot create a file beside", path, result.Code));
    case ReplaceFailure::Write:
        return refused(Write, Reason("Cannot write", path, result.Code));
    case ReplaceFailure::KeepMode:
        return refused(Write, Reason("Cannot keep the mode of", path, result.Code));
    case ReplaceFailure::Flush:
        return refused(Write, Reason("Cannot flush", path, result.Code));
    case ReplaceFailure::Close:
        return refused(Write, Reason("Cannot close", path, result.Code));
    case ReplaceFailure::Rename:
        return refused(Write, Reason("Cannot replace", path, result.Code));
    }
    return told;
}

} // namespace

FileRead ReadOutsideFile(const std::filesystem::path& path, std::size_t cap) {
    const common::BoundedRead read =
        common::ReadBounded(path, cap, std::chrono::milliseconds(StreamReadLimitMs));
    FileRead told;
    if (read.Bytes) {
        told.Result = FileRead::Outcome::Read;
        told.Bytes.assign(read.Bytes->begin(), read.Bytes->end());
        return told;
    }
    told.Result = read.Failure == common::ReadFailure::Open ? FileRead::Outcome::CannotOpen
                                                            : FileRead::Outcome::CannotRead;
    told.Missing = read.Missing();
    told.Error = ReadError(read, path, cap);
    return told;
}

FileReplace ReplaceFile(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    return Told(common::ReplaceAtomically(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())));
}

FileReplace CheckReplace(const std::filesystem::path& path) {
    return Told(common::ReplaceAtomically(path, {}, common::ReplaceMode::CheckOnly));
}

} // namespace dl2mgr::editor
