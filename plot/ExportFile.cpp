#include "ExportFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

ExportFile::~ExportFile() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    Remove();
}

bool ExportFile::Create(const std::string& folder, const std::string& stem,
                        const std::string& suffix, int maxNumber) {
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    for (int n = 1; n <= maxNumber; ++n) {
        const std::string path =
            base + stem + (n == 1 ? std::string() : '-' + std::to_string(n)) + suffix;
        // O_EXCL also refuses a link under the name, dangling or not: it takes the name.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && (errno == EEXIST || errno == ELOOP))
            continue;
        m_path = path;
        if (fd < 0) {
            Fail(errno);
            return false;
        }
        m_fd = fd;
        m_created = true;
        struct stat info {};
        if (::fstat(fd, &info) == 0) {
            m_device = info.st_dev;
            m_inode = info.st_ino;
        }
        return true;
    }
    m_path = base + stem + suffix;
    m_error = "the names " + stem + suffix + " to " + stem + '-' + std::to_string(maxNumber) +
              suffix + " are all taken";
    m_namesTaken = true;
    return false;
}

bool ExportFile::Write(std::string_view data) {
    if (m_fd < 0 || !m_error.empty())
        return false;
    while (!data.empty()) {
        const ssize_t n = ::write(m_fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : EIO);
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool ExportFile::Finish() {
    if (m_fd >= 0) {
        const int fd = m_fd;
        m_fd = -1;
        // Some file systems report a write that did not reach the disk only at the close.
        if (::close(fd) != 0 && errno != EINTR)
            Fail(errno);
    } else if (m_error.empty()) {
        m_error = "the file was not created";
    }
    if (!m_error.empty()) {
        Remove();
        return false;
    }
    m_created = false;  // done: it stays
    return true;
}

void ExportFile::Fail(int error) {
    if (m_error.empty())
        m_error = std::strerror(error);
}

void ExportFile::Remove() {
    if (!m_created)
        return;
    m_created = false;
    // Only the file this object made: the name may stand for something else by now.
    struct stat named {};
    if (::lstat(m_path.c_str(), &named) == 0 && named.st_dev == m_device && named.st_ino == m_inode)
        ::unlink(m_path.c_str());
}

NewFileResult WriteNewFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix, std::string_view contents) {
    constexpr int kMaxNewFileNumber = 9999;
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
    ExportFile file;
    if (!file.Create(folder, stem, suffix, kMaxNewFileNumber)) {
        result.error = file.NamesTaken()
                           ? "no free name for " + stem + suffix + " in " + folder
                           : "cannot create " + file.Path() + " (" + file.Error() + ")";
        return result;
    }
    file.Write(contents);
    if (!file.Finish()) {
        result.error = "cannot write " + file.Path() + " (" + file.Error() + "); it was removed";
        return result;
    }
    result.path = file.Path();
    return result;
}
