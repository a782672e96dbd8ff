#include "Output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

}  // namespace

Output::~Output() {
    if (m_fd >= 0 && m_fd != STDOUT_FILENO)
        ::close(m_fd);
}

bool Output::Open(const std::string& path) {
    m_path = path;
    m_buffer.reserve(kBufferSize);
    if (path.empty()) {
        m_name = "standard output";
        m_fd = STDOUT_FILENO;
        return true;
    }
    m_name = path;
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        Fail("cannot create", errno);
        return false;
    }
    struct stat info {};
    m_ownFile = ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode);
    return true;
}

bool Output::Write(std::string_view data) {
    if (!m_error.empty() || m_fd < 0)
        return false;
    m_buffer.append(data);
    return m_buffer.size() < kBufferSize || Flush();
}

bool Output::Flush() {
    const char* data = m_buffer.data();
    std::size_t left = m_buffer.size();
    while (left > 0) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail("cannot write", n < 0 ? errno : EIO);
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    m_buffer.clear();
    return true;
}

bool Output::Finish() {
    if (m_fd < 0)
        return m_error.empty();
    if (m_error.empty())
        Flush();
    // The close reports what reached the file only then (a network file system, a quota).
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0 && errno != EINTR && m_error.empty())
        Fail("cannot write", errno);
    if (!m_error.empty())
        RemoveFile();
    return m_error.empty();
}

void Output::Discard() {
    if (m_fd >= 0 && m_fd != STDOUT_FILENO)
        ::close(m_fd);
    m_fd = -1;
    RemoveFile();
}

void Output::Fail(const char* what, int error) {
    if (m_error.empty())
        m_error = std::string(what) + " " + m_name + ": " + std::strerror(error);
}

void Output::RemoveFile() {
    // Only a regular file this run created or truncated; never a device such as /dev/full.
    if (m_ownFile && ::unlink(m_path.c_str()) == 0)
        m_error += m_error.empty() ? "" : " (the incomplete file was removed)";
    m_ownFile = false;
}
