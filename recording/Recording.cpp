#include "Recording.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The record file, open from the start of a recording to its stop. Appending through the one
// descriptor keeps every block in the file that was created, whatever happens to its name.
class RecordFile {
public:
    RecordFile() = default;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;
    ~RecordFile() { Close(); }

    // Creates `name` in the current directory: exclusively, so nothing is ever truncated, and
    // without following a link put there in advance. errno tells why it failed.
    bool Create(const char* name) {
        Close();
        m_fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0666);
        return m_fd >= 0;
    }
    bool IsOpen() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }
    // False when the close reports a write that did not reach the file.
    bool Close() {
        if (m_fd < 0)
            return true;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int m_fd = -1;
};

bool g_bRecording = false;
RecordFile g_recordFile;
// The name, relative to the directory made current at the start, and that name resolved to a
// full path then; the path is for the operator and the tests, appends go through the file.
char g_szRecordName[20] = "";
std::string g_recordPath;

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string FormatTime(const char* format, const std::tm& when) {
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format, &when);
    return std::string(text, length);
}

// The home directory of the user running the program, or empty when it has no entry.
std::string HomeFromPasswordDatabase() {
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE)
        buffer.resize(buffer.size() * 2);
    if (found == nullptr || found->pw_dir == nullptr)
        return {};
    return found->pw_dir;
}

// Removes the file just created under `name` in the current directory, unless the name now
// stands for something else.
void RemoveCreatedFile(const char* name, int fd) {
    struct stat created {};
    struct stat named {};
    if (::fstat(fd, &created) == 0 && ::lstat(name, &named) == 0 &&
        created.st_dev == named.st_dev && created.st_ino == named.st_ino)
        ::unlink(name);
}

}  // namespace

std::string DefaultSaveFolder() {
    // Never a shared place such as /tmp: whoever creates the folder there first controls it.
    const char* variable = std::getenv("HOME");
    std::string home = variable != nullptr ? variable : "";
    if (home.empty())
        home = HomeFromPasswordDatabase();
    if (home.empty()) {
        std::error_code error;
        home = fs::current_path(error).string();
    }
    if (!home.empty() && home.back() != '/')
        home += '/';
    return AbsoluteFolder(home + "COMDATA");
}

std::string AbsoluteFolder(const std::string& folder) {
    if (folder.empty())
        return folder;
    std::error_code error;
    const fs::path absolute = fs::absolute(fs::path(folder), error);
    return error ? folder : absolute.string();
}

RecordStart StartRecording(const std::string& folder, const std::tm& now) {
    std::error_code ignored;
    // Every prefix up to a separator, then the folder itself; failures (it exists, a root, no
    // permission) are ignored and the file then goes to whatever directory is current.
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] == '/') {
            fs::create_directory(fs::path(folder.substr(0, i + 1)), ignored);
        }
    }
    fs::create_directory(fs::path(folder), ignored);
    fs::current_path(fs::path(folder), ignored);

    for (int n = 0; n < 100; ++n) {
        char name[sizeof g_szRecordName];
        std::snprintf(name, sizeof name, "Rec%02d.txt", n);
        // Anything under the name (file, directory, dangling link) takes it.
        std::error_code statusError;
        if (fs::exists(fs::symlink_status(name, statusError))) {
            continue;
        }
        // A name that appeared since the test above is passed over like any taken one.
        if (!g_recordFile.Create(name)) {
            if (errno == EEXIST || errno == ELOOP) {
                continue;
            }
            return RecordStart::CreateFailed;
        }
        std::snprintf(g_szRecordName, sizeof g_szRecordName, "%s", name);
        std::error_code pathError;
        const fs::path full = fs::absolute(name, pathError);
        g_recordPath = pathError ? std::string(name) : full.string();

        std::error_code existsError;
        if (!fs::exists(fs::symlink_status(name, existsError))) {
            g_recordFile.Close();
            return RecordStart::NotFound;
        }
        if (!AppendRecordBlock(RecordHeaderLine(now))) {
            RemoveCreatedFile(name, g_recordFile.Fd());
            g_recordFile.Close();
            return RecordStart::CreateFailed;
        }
        g_bRecording = true;
        return RecordStart::Started;
    }
    return RecordStart::AllNamesTaken;
}

RecordStop FinishRecord(const std::string& pendingLines, const std::tm& now) {
    g_bRecording = false;
    RecordStop outcome = RecordStop::Stopped;
    if (!pendingLines.empty() && !AppendRecordBlock(pendingLines)) {
        outcome = RecordStop::BlockFailed;
    } else if (!AppendRecordBlock(RecordEndLine(now))) {
        outcome = RecordStop::EndLineFailed;
    }
    if (!g_recordFile.Close() && outcome == RecordStop::Stopped) {
        outcome = RecordStop::EndLineFailed;
    }
    return outcome;
}

bool IsRecording() {
    return g_bRecording;
}

std::string RecordFileName() {
    return g_szRecordName;
}

std::string RecordFilePath() {
    return g_recordPath;
}

bool AppendRecordBlock(const std::string& text) {
    if (!g_recordFile.IsOpen()) {
        return false;
    }
    const int fd = g_recordFile.Fd();
    struct stat before {};
    if (::fstat(fd, &before) != 0) {
        return false;
    }
    if (WriteAll(fd, text.data(), text.size())) {
        return true;
    }
    // A block cut short (a full disk) must not stay: the lines go out again with the next
    // block, and would then be in the file twice, the first time cut in the middle.
    while (::ftruncate(fd, before.st_size) != 0 && errno == EINTR) {
    }
    return false;
}

std::string RecordHeaderLine(const std::tm& when) {
    return FormatTime("Date: %Y-%m-%d  Time:%H:%M:%S\r\n", when);
}

std::string RecordEndLine(const std::tm& when) {
    return FormatTime("End Date: %Y-%m-%d  Time:%H:%M:%S\r\n", when);
}

std::tm LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}
