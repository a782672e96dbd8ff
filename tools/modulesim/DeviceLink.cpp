#include "DeviceLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace modulesim {
namespace {

// Where `link` points; nothing when it is no symbolic link.
std::optional<std::string> LinkTarget(const std::string& link) {
    char buf[4096];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf)
        return std::nullopt;
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace

bool PointLink(const std::string& link, const std::string& target, std::string& error) {
    struct stat info {};
    if (::lstat(link.c_str(), &info) == 0) {
        const auto old = LinkTarget(link);
        if (!S_ISLNK(info.st_mode) || !old || old->rfind("/dev/pts/", 0) != 0) {
            error = link + " exists and is not a link to a pseudo-terminal; left as it is";
            return false;
        }
    } else if (errno != ENOENT) {
        error = link + ": " + std::strerror(errno);
        return false;
    }
    // A new link beside the old name, renamed over it: whoever follows the name sees the old
    // device or the new one, never no link at all.
    const std::string fresh = link + ".new-" + std::to_string(::getpid());
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        return false;
    }
    if (::rename(fresh.c_str(), link.c_str()) != 0) {
        error = "cannot make the link " + link + ": " + std::strerror(errno);
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
    if (LinkTarget(link) == target)
        ::unlink(link.c_str());
}

}  // namespace modulesim
