#include "NewFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

constexpr int kMaxNumber = 9999;

std::string Reason(int error) {
    return std::strerror(error);
}

// Writes everything, going on after short writes and interruptions; 0 or the error.
int WriteAll(int fd, std::string_view contents) {
    while (!contents.empty()) {
        const ssize_t n = ::write(fd, contents.data(), contents.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return EIO;
        contents.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

NewFileResult WriteNewFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix, std::string_view contents) {
    NewFileResult result;
    if (folder.empty()) {
        result.error = "no folder to write to";
        return result;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
        result.error = "cannot create the folder " + folder +
                       (ec ? " (" + ec.message() + ")" : std::string(" (not a folder)"));
        return result;
    }
    const std::filesystem::path base(folder);
    for (int number = 1; number <= kMaxNumber; ++number) {
        const std::string name =
            stem + (number == 1 ? std::string() : "-" + std::to_string(number)) + suffix;
        const std::string path = (base / name).string();
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST || errno == ELOOP)
                continue;  // the name is taken, by a file or a link
            result.error = "cannot create " + path + " (" + Reason(errno) + ")";
            return result;
        }
        int error = WriteAll(fd, contents);
        if (::close(fd) != 0 && error == 0)
            error = errno;
        if (error != 0) {
            ::unlink(path.c_str());
            result.error = "cannot write " + path + " (" + Reason(error) + "); it was removed";
            return result;
        }
        result.path = path;
        return result;
    }
    result.error = "no free name for " + stem + suffix + " in " + folder;
    return result;
}
