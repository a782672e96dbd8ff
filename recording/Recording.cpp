#include "Recording.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace {

constexpr int kRecordNames = 100;

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

void TruncateTo(int fd, off_t size) {
    while (::ftruncate(fd, size) != 0 && errno == EINTR) {
    }
}

std::string FormatTime(const char* format, const std::tm& when) {
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, format, &when);
    return std::string(text, length);
}

std::string RecordName(int n) {
    char name[16];
    std::snprintf(name, sizeof name, "Rec%02d.txt", n);
    return name;
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

// Whether a path can name the folder at all: the record's path within the length a path may
// have, and no name on the way longer than a name may be. Tested before anything is made, so
// that a path that cannot work leaves no folders behind.
bool UsableFolderPath(const std::string& folder) {
    if (folder.empty() || folder.size() + sizeof "/Rec00.txt" > PATH_MAX)
        return false;
    for (std::size_t start = 0; start < folder.size();) {
        std::size_t end = folder.find('/', start);
        if (end == std::string::npos)
            end = folder.size();
        if (end - start > NAME_MAX)
            return false;
        start = end + 1;
    }
    return true;
}

// Every prefix up to a separator, then the folder itself. Failures (it exists, a root, no
// permission) are for the open that follows to find.
void MakeFolder(const std::string& folder) {
    for (std::size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] == '/')
            ::mkdir(folder.substr(0, i + 1).c_str(), 0777);
    }
    ::mkdir(folder.c_str(), 0777);
}

// The folder, for creating its file relative to it; the current directory is never changed.
int OpenFolder(const std::string& folder) {
    return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Anything under the name (file, directory, dangling link) takes it.
bool NameTaken(int dir, const std::string& name) {
    struct stat st {};
    return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Creates `name` in `dir`: exclusively, so nothing is ever truncated, and without following a
// link put there in advance. Readable as well, so that the record can be copied when its folder
// is deleted. errno tells why it failed.
int CreateRecord(int dir, const std::string& name) {
    return ::openat(dir, name.c_str(),
                    O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_CLOEXEC, 0666);
}

// Removes the file just created under `name` in `dir`, unless the name now stands for
// something else.
void RemoveCreated(int dir, const std::string& name, int fd) {
    struct stat created {};
    struct stat named {};
    if (::fstat(fd, &created) == 0 &&
        ::fstatat(dir, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        created.st_dev == named.st_dev && created.st_ino == named.st_ino)
        ::unlinkat(dir, name.c_str(), 0);
}

}  // namespace

Recorder::Descriptor::Descriptor(Descriptor&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)) {}

Recorder::Descriptor& Recorder::Descriptor::operator=(Descriptor&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool Recorder::Descriptor::Close() {
    if (m_fd < 0)
        return true;
    const int fd = std::exchange(m_fd, -1);
    return ::close(fd) == 0 || errno == EINTR;
}

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

std::string NotRecordedLine(std::uint64_t frames) {
    return "Not recorded: " + std::to_string(frames) + (frames == 1 ? " frame\r\n" : " frames\r\n");
}

Recorder::Recorder(std::size_t holdLimit) : m_holdLimit(holdLimit) {}

Recorder::~Recorder() = default;

RecordStart Recorder::Start(const std::string& folder, const std::tm& now) {
    m_recording = false;
    m_file.Close();
    m_held.clear();
    m_heldBytes = 0;
    m_notRecorded = 0;
    m_refused = false;
    m_fileLost = false;

    const std::string absolute = AbsoluteFolder(folder);
    if (!UsableFolderPath(absolute))
        return RecordStart::CreateFailed;
    MakeFolder(absolute);
    const Descriptor dir(OpenFolder(absolute));
    if (!dir.Valid())
        return RecordStart::CreateFailed;

    for (int n = 0; n < kRecordNames; ++n) {
        const std::string name = RecordName(n);
        if (NameTaken(dir.Get(), name))
            continue;
        Descriptor file(CreateRecord(dir.Get(), name));
        if (!file.Valid()) {
            // A name that appeared since the test above is passed over like any taken one.
            if (errno == EEXIST || errno == ELOOP)
                continue;
            return RecordStart::CreateFailed;
        }
        m_folder = absolute;
        m_name = name;
        m_path = (fs::path(absolute) / name).string();
        if (!NameTaken(dir.Get(), name))
            return RecordStart::NotFound;
        m_file = std::move(file);
        if (!WriteWhole(RecordHeaderLine(now))) {
            RemoveCreated(dir.Get(), name, m_file.Get());
            m_file.Close();
            return RecordStart::CreateFailed;
        }
        m_recording = true;
        return RecordStart::Started;
    }
    return RecordStart::AllNamesTaken;
}

bool Recorder::Append(const std::string& text, unsigned frames) {
    if (!m_recording)
        return false;
    // What waits goes first; when the disk refused it, the block joins it without a second try.
    const bool room = WriteHeld();
    Hold(text, frames);
    return room && WriteHeld();
}

bool Recorder::Flush() {
    return !m_recording || WriteHeld();
}

RecordStop Recorder::Finish(const std::string& pendingLines, unsigned pendingFrames,
                            const std::tm& now) {
    const bool wasRecording = std::exchange(m_recording, false);
    if (!wasRecording || !m_file.Valid()) {
        m_file.Close();
        return pendingLines.empty() ? RecordStop::EndLineFailed : RecordStop::BlockFailed;
    }
    // What is held first, so that the pending lines find room in the hold when the disk has.
    std::vector<Written> written;
    WriteHeld(&written);
    Hold(pendingLines, pendingFrames);
    WriteHeld(&written);

    // What found no room is left out whole. `lost` is what the operator has not been told of
    // yet; the gap line counts gaps already reported too when their own line did not fit.
    std::uint64_t lost = m_notRecorded;
    std::uint64_t gapLine = m_notRecorded;
    for (const Block& block : m_held) {
        lost += block.frames;
        gapLine += block.frames + block.gapFrames;
    }
    RecordStop outcome = m_held.empty() ? RecordStop::Stopped : RecordStop::BlockFailed;
    m_held.clear();
    m_heldBytes = 0;
    m_notRecorded = 0;
    m_refused = false;

    const std::string endLine = RecordEndLine(now);
    for (;;) {
        if (WriteWhole((gapLine > 0 ? NotRecordedLine(gapLine) : std::string()) + endLine))
            break;
        if (written.empty()) {
            if (outcome == RecordStop::Stopped)
                outcome = RecordStop::EndLineFailed;
            break;
        }
        // The room for the end line comes from the blocks this stop wrote, newest first: a
        // record that ends properly and says what it lacks is worth more than its last lines.
        TruncateTo(m_file.Get(), static_cast<off_t>(written.back().sizeBefore));
        lost += written.back().frames;
        gapLine += written.back().frames + written.back().gapFrames;
        written.pop_back();
        outcome = RecordStop::BlockFailed;
    }
    if (lost > 0)
        Notify(RecordNotice::Kind::FramesNotRecorded, lost);
    if (!Linked())
        outcome = RecordStop::FileLost;
    if (!m_file.Close() && outcome == RecordStop::Stopped)
        outcome = RecordStop::EndLineFailed;
    return outcome;
}

std::vector<RecordNotice> Recorder::TakeNotices() {
    return std::exchange(m_notices, {});
}

void Recorder::Hold(const std::string& text, std::uint64_t frames) {
    if (text.empty())
        return;
    if (m_heldBytes + text.size() > m_holdLimit) {
        m_notRecorded += frames;
        return;
    }
    CloseGap();
    m_held.push_back(Block{text, frames, 0});
    m_heldBytes += text.size();
}

void Recorder::CloseGap() {
    if (m_notRecorded == 0)
        return;
    Block gap{NotRecordedLine(m_notRecorded), 0, m_notRecorded};
    m_heldBytes += gap.text.size();
    m_held.push_back(std::move(gap));
    Notify(RecordNotice::Kind::FramesNotRecorded, m_notRecorded);
    m_notRecorded = 0;
}

bool Recorder::WriteHeld(std::vector<Written>* written) {
    while (!m_held.empty()) {
        const Block& block = m_held.front();
        long long sizeBefore = 0;
        if (!WriteWhole(block.text, &sizeBefore)) {
            if (!std::exchange(m_refused, true))
                Notify(RecordNotice::Kind::DiskRefused);
            return false;
        }
        if (written != nullptr)
            written->push_back(Written{sizeBefore, block.frames, block.gapFrames});
        m_heldBytes -= block.text.size();
        m_held.pop_front();
    }
    m_refused = false;
    return true;
}

bool Recorder::WriteWhole(const std::string& text, long long* sizeBefore) {
    if (!m_file.Valid())
        return false;
    KeepLinked();
    struct stat before {};
    if (::fstat(m_file.Get(), &before) != 0)
        return false;
    if (sizeBefore != nullptr)
        *sizeBefore = before.st_size;
    if (WriteAll(m_file.Get(), text.data(), text.size()))
        return true;
    // A block cut short must not stay: it goes out again whole, and would else be in the file
    // twice, the first time cut in the middle.
    TruncateTo(m_file.Get(), before.st_size);
    return false;
}

bool Recorder::Linked() const {
    struct stat st {};
    return ::fstat(m_file.Get(), &st) != 0 || st.st_nlink > 0;
}

// A record whose last name is gone (its folder was deleted) would vanish when it is closed:
// make the folder and the file again and go on there.
void Recorder::KeepLinked() {
    if (Linked())
        return;
    const std::string lostPath = m_path;
    std::string error;
    if (MakeAgain(error)) {
        m_fileLost = false;
        m_notices.push_back(RecordNotice{RecordNotice::Kind::FileMadeAgain, lostPath, 0, m_path});
    } else if (!std::exchange(m_fileLost, true)) {
        Notify(RecordNotice::Kind::FileLost, 0, error);
    }
}

bool Recorder::MakeAgain(std::string& error) {
    MakeFolder(m_folder);
    const Descriptor dir(OpenFolder(m_folder));
    struct stat old {};
    if (!dir.Valid() || ::fstat(m_file.Get(), &old) != 0) {
        error = std::strerror(errno);
        return false;
    }
    // Without room for the whole copy, fail at once rather than copy part of it every time.
    struct statvfs room {};
    if (::fstatvfs(dir.Get(), &room) == 0 &&
        static_cast<unsigned long long>(room.f_bavail) * room.f_frsize <
            static_cast<unsigned long long>(old.st_size)) {
        error = std::strerror(ENOSPC);
        return false;
    }
    // The same name when it is free, else the lowest free one.
    std::string name = m_name;
    Descriptor file(CreateRecord(dir.Get(), name));
    int why = file.Valid() ? 0 : errno;
    for (int n = 0; !file.Valid() && (why == EEXIST || why == ELOOP) && n < kRecordNames; ++n) {
        name = RecordName(n);
        if (NameTaken(dir.Get(), name))
            continue;
        file = Descriptor(CreateRecord(dir.Get(), name));
        why = file.Valid() ? 0 : errno;
    }
    if (!file.Valid()) {
        error = std::strerror(why);
        return false;
    }
    std::vector<char> buffer(std::size_t{1} << 16);
    for (off_t at = 0; at < old.st_size;) {
        const auto want = static_cast<std::size_t>(
            std::min<off_t>(old.st_size - at, static_cast<off_t>(buffer.size())));
        const ssize_t n = ::pread(m_file.Get(), buffer.data(), want, at);
        if (n < 0 && errno == EINTR)
            continue;
        why = n < 0 ? errno : n == 0 ? EIO : 0;
        if (why == 0 && !WriteAll(file.Get(), buffer.data(), static_cast<std::size_t>(n)))
            why = errno != 0 ? errno : ENOSPC;
        if (why != 0) {
            error = std::strerror(why);
            RemoveCreated(dir.Get(), name, file.Get());
            return false;
        }
        at += n;
    }
    m_file = std::move(file);
    m_name = name;
    m_path = (fs::path(m_folder) / name).string();
    return true;
}

void Recorder::Notify(RecordNotice::Kind kind, std::uint64_t frames, std::string detail) {
    m_notices.push_back(RecordNotice{kind, m_path, frames, std::move(detail)});
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
