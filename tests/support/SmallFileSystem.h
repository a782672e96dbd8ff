#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

// A tmpfs of its own mounted on `at` (made if missing), in a mount namespace private to the
// calling thread, so that a real disk can be filled up or be read-only and nothing outside the
// test sees it. Needs root (CAP_SYS_ADMIN); Error() says why it could not be mounted. Unmounted
// when the object goes.
class SmallFileSystem {
public:
    // `options` as for mount -o: "size=64k", "size=2m", "size=1m,ro" ...
    SmallFileSystem(const std::filesystem::path& at, const std::string& options) : m_at(at) {
        std::error_code ignored;
        std::filesystem::create_directories(at, ignored);
        std::string data = options;
        unsigned long flags = 0;
        if (const auto ro = data.find(",ro"); ro != std::string::npos) {
            data.erase(ro, 3);
            flags |= MS_RDONLY;
        }
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("torva", at.c_str(), "tmpfs", flags, data.c_str()) != 0) {
            m_error = std::strerror(errno);
            return;
        }
        m_mounted = true;
    }
    ~SmallFileSystem() {
        if (m_mounted)
            ::umount2(m_at.c_str(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool Mounted() const { return m_mounted; }
    const std::string& Error() const { return m_error; }
    const std::filesystem::path& Path() const { return m_at; }

    // Takes every free byte; a file being written keeps the room left in its last block.
    void Fill() {
        const int fd =
            ::open((m_at / "filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return;
        static const std::string chunk(1 << 16, 'x');
        for (std::size_t size = chunk.size(); size > 0; size /= 2) {
            while (::write(fd, chunk.data(), size) > 0) {
            }
        }
        ::close(fd);
    }
    void Free() {
        std::error_code ignored;
        std::filesystem::remove(m_at / "filler", ignored);
    }

private:
    std::filesystem::path m_at;
    bool m_mounted = false;
    std::string m_error;
};
