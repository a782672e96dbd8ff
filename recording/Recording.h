#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <vector>

// Recording of the Received log to numbered files Rec00.txt .. Rec99.txt.

// Default record folder: COMDATA in the user's home, as an absolute path. The home is $HOME,
// or the password database's entry when HOME is unset or empty.
std::string DefaultSaveFolder();

// A chosen folder as an absolute path, taken against the current directory now.
std::string AbsoluteFolder(const std::string& folder);

enum class RecordStart {
    Started,
    CreateFailed,   // the folder cannot be made or opened, or the file created or its header
                    // written
    NotFound,       // the new file cannot be found after its creation
    AllNamesTaken,  // Rec00.txt .. Rec99.txt all exist
};

enum class RecordStop {
    Stopped,
    BlockFailed,    // lines could not be written; the end line follows only when it found room
    EndLineFailed,  // the end line could not be appended, or the file not closed cleanly
    FileLost,       // the file was deleted with its folder and could not be made again
};

// Something the operator is to be told about the record, in the order it happened.
struct RecordNotice {
    enum class Kind {
        DiskRefused,        // a block found no room: its lines are held until the disk has room
        FramesNotRecorded,  // `frames` could not be held either; a line in the file marks where
        FileLost,           // the file was deleted (with its folder, as a rule) and cannot be made
                            // again now (`detail` says why); the record is kept until it can be
        FileMadeAgain,      // the deleted file was made again, as `detail`, with the whole record
    };
    Kind kind;
    std::string path;  // the record file it concerns
    std::uint64_t frames = 0;
    std::string detail;
};

// One recording: the record file, created new in its folder and held open from the start to
// the stop, and the blocks its disk has not taken yet.
//
// A block the disk refuses is held, with the ones after it, and written whole, in order, as
// soon as the disk has room; nothing is ever written twice or in part. The hold is bounded:
// a block beyond it is dropped whole and its frames counted, and the record gets a line
// "Not recorded: N frames" where they are missing. A file found deleted (its folder removed)
// is made again under its name with everything written so far.
class Recorder {
public:
    static constexpr std::size_t kHoldLimit = std::size_t{4} << 20;

    explicit Recorder(std::size_t holdLimit = kHoldLimit);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Makes the folder and its parents when they are missing, creates the lowest free RecNN.txt
    // in it exclusively and without following a link (never overwriting anything), and writes
    // the header with `now`. The current directory is left as it is.
    RecordStart Start(const std::string& folder, const std::tm& now);

    // Hands a block of `frames` frame lines to the record. True when it and everything before
    // it are in the file; false when the block is held (or dropped) for want of room.
    bool Append(const std::string& text, unsigned frames);

    // Writes what is held, if the disk now has room. True when nothing is held any more.
    bool Flush();

    // Ends the recording: `pendingLines` (when there are any), what is held, then the end line
    // with `now`, and closes the file. When not all of it finds room, whole blocks are left
    // out and counted so that the gap line and the end line can still be written. Recording
    // is off afterwards in every case.
    RecordStop Finish(const std::string& pendingLines, unsigned pendingFrames, const std::tm& now);

    bool IsRecording() const { return m_recording; }
    // Name of the current (or last) record file, "RecNN.txt", and its full path.
    const std::string& FileName() const { return m_name; }
    const std::string& FilePath() const { return m_path; }
    std::size_t HeldBytes() const { return m_heldBytes; }

    // What happened since the last call.
    std::vector<RecordNotice> TakeNotices();
    bool HasNotices() const { return !m_notices.empty(); }

private:
    // A descriptor, closed when it goes or is replaced.
    class Descriptor {
    public:
        Descriptor() = default;
        explicit Descriptor(int fd) : m_fd(fd) {}
        ~Descriptor() { Close(); }
        Descriptor(Descriptor&& other) noexcept;
        Descriptor& operator=(Descriptor&& other) noexcept;
        int Get() const { return m_fd; }
        bool Valid() const { return m_fd >= 0; }
        // False when the close reports a write that did not reach the file.
        bool Close();

    private:
        int m_fd = -1;
    };

    struct Block {
        std::string text;
        std::uint64_t frames = 0;     // frame lines in the text
        std::uint64_t gapFrames = 0;  // for a gap line: the frames it stands for
    };
    // A block written by the stop: where the file ended before it, and what it carried.
    struct Written {
        long long sizeBefore = 0;
        std::uint64_t frames = 0;
        std::uint64_t gapFrames = 0;
    };

    void Hold(const std::string& text, std::uint64_t frames);
    void CloseGap();
    bool WriteHeld(std::vector<Written>* written = nullptr);
    bool WriteWhole(const std::string& text, long long* sizeBefore = nullptr);
    void KeepLinked();
    bool MakeAgain(std::string& error);
    bool Linked() const;
    void Notify(RecordNotice::Kind kind, std::uint64_t frames = 0, std::string detail = {});

    std::size_t m_holdLimit;
    Descriptor m_file;
    bool m_recording = false;
    std::string m_folder;
    std::string m_name;
    std::string m_path;
    std::deque<Block> m_held;
    std::size_t m_heldBytes = 0;
    std::uint64_t m_notRecorded = 0;  // frames dropped since the last block held
    bool m_refused = false;           // the disk refused a block and not all is written yet
    bool m_fileLost = false;          // the file is deleted and could not be made again yet
    std::vector<RecordNotice> m_notices;
};

// The line that stands for frames that could not be recorded.
std::string NotRecordedLine(std::uint64_t frames);

// "Date: %Y-%m-%d  Time:%H:%M:%S\r\n" and "End Date: ..." of a local time.
std::string RecordHeaderLine(const std::tm& when);
std::string RecordEndLine(const std::tm& when);

// The local time now.
std::tm LocalTimeNow();
