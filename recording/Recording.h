#pragma once

#include <ctime>
#include <string>

// Recording of the Received log to numbered files Rec00.txt .. Rec99.txt.

// Default record folder: $HOME/COMDATA (on Windows C:\COMDATA).
std::string DefaultSaveFolder();

enum class RecordStart {
    Started,
    CreateFailed,   // the file could not be created, or its header not written
    NotFound,       // the new file cannot be found after its creation
    AllNamesTaken,  // Rec00.txt .. Rec99.txt all exist
};

enum class RecordStop {
    Stopped,
    BlockFailed,    // the pending lines could not be appended; no end line attempted
    EndLineFailed,  // the end line could not be appended
};

// Creates the folder and its parents, makes it current, creates the lowest free RecNN.txt
// exclusively (never overwriting anything) and writes the header with `now`.
RecordStart StartRecording(const std::string& folder, const std::tm& now);

// Appends the pending lines of `received` (when any frame line came since the last block) and
// the end line with `now`. Recording is off afterwards in every case.
RecordStop StopRecording(const std::string& received, const std::tm& now);

bool IsRecording();

// Name of the current (or last) record file, "RecNN.txt", and its full path.
std::string RecordFileName();
std::string RecordFilePath();

// Appends text to the record file; false when the file cannot be opened, written or flushed.
bool AppendRecordBlock(const std::string& text);

// "Date: %Y-%m-%d  Time:%H:%M:%S\r\n" and "End Date: ..." of a local time.
std::string RecordHeaderLine(const std::tm& when);
std::string RecordEndLine(const std::tm& when);

// The local time now.
std::tm LocalTimeNow();
