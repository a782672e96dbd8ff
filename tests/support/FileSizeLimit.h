#pragma once

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

// Holds the files this process writes to `room` bytes beyond the present size of `file`: a
// write past that is cut short and the next one fails, as on a full disk, for any user and
// with no file system to mount. Lifted when the object goes.
class FileSizeLimit {
public:
    FileSizeLimit(const std::filesystem::path& file, std::uintmax_t room) {
        std::signal(SIGXFSZ, SIG_IGN);  // the write fails instead of ending the process
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = std::filesystem::file_size(file) + room;
        m_held = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Held() const { return m_held; }

private:
    rlimit m_saved{};
    bool m_held = false;
};
