#include "Recording.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <system_error>

#include "TrafficLog.h"

namespace fs = std::filesystem;

namespace {

bool g_bRecording = false;
// Name relative to the directory that was current at the start, and that name resolved to a
// full path then, so appends reach the same file even if the current directory changes later.
char g_szRecordName[20] = "";
std::string g_recordPath;

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Closes explicitly so that a failing close (the last flush) is seen.
bool CloseFile(FileHandle& file) {
    return std::fclose(file.release()) == 0;
}

// Writes, flushes and closes; false if any of the three fails (a full disk shows at the flush).
bool WriteAndClose(FileHandle& file, const std::string& text) {
    bool ok = text.empty() || std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
    ok = std::fflush(file.get()) == 0 && ok;
    ok = CloseFile(file) && ok;
    return ok;
}

std::string FormatTime(const char* format, const std::tm& when) {
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format, &when);
    return std::string(text, length);
}

}  // namespace

std::string DefaultSaveFolder() {
#ifdef _WIN32
    return "C:\\COMDATA";
#else
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        return "/tmp/COMDATA";
    }
    std::string folder = home;
    if (folder.back() != '/') {
        folder += '/';
    }
    return folder + "COMDATA";
#endif
}

RecordStart StartRecording(const std::string& folder, const std::tm& now) {
    std::error_code ignored;
    // Every prefix up to a separator, then the folder itself; failures (it exists, a root, no
    // permission) are ignored and the file then goes to whatever directory is current.
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] == kSeparator) {
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
        // Exclusive creation: an existing record is never truncated, even one that appeared
        // since the test above.
        errno = 0;
        FileHandle file(std::fopen(name, "wbx"));
        if (!file) {
            if (errno == EEXIST) {
                continue;
            }
            return RecordStart::CreateFailed;
        }
        std::snprintf(g_szRecordName, sizeof g_szRecordName, "%s", name);
        std::error_code pathError;
        const fs::path full = fs::absolute(name, pathError);
        g_recordPath = pathError ? std::string(name) : full.string();

        std::error_code existsError;
        if (!fs::exists(name, existsError)) {
            return RecordStart::NotFound;
        }
        if (!WriteAndClose(file, RecordHeaderLine(now))) {
            std::error_code removeError;
            fs::remove(g_recordPath, removeError);
            return RecordStart::CreateFailed;
        }
        g_bRecording = true;
        return RecordStart::Started;
    }
    return RecordStart::AllNamesTaken;
}

RecordStop StopRecording(const std::string& received, const std::tm& now) {
    g_bRecording = false;
    // Lines are pending only when a frame line came since the last block.
    if (FramesSinceFlush() != 0 && !AppendRecordBlock(received)) {
        return RecordStop::BlockFailed;
    }
    if (!AppendRecordBlock(RecordEndLine(now))) {
        return RecordStop::EndLineFailed;
    }
    return RecordStop::Stopped;
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
    FileHandle file(std::fopen(g_recordPath.c_str(), "ab"));
    if (!file) {
        return false;
    }
    return WriteAndClose(file, text);
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
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}
