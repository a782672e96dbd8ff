#pragma once

#include <ctime>
#include <string>

// Recording of the Received log to numbered files Rec00.txt .. Rec99.txt.

// Default record folder: COMDATA in the user's home, as an absolute path. The home is $HOME,
// or the password database's entry when HOME is unset or empty.
std::string DefaultSaveFolder();

// A chosen folder as an absolute path, taken against the current directory now, so that a
// recording (which changes the current directory) does not move the folder of the next one.
std::string AbsoluteFolder(const std::string& folder);

enum class RecordStart {
    Started,
    CreateFailed,   // the file could not be created, or its header not written
    NotFound,       // the new file cannot be found after its creation
    AllNamesTaken,  // Rec00.txt .. Rec99.txt all exist
};

enum class RecordStop {
    Stopped,
    BlockFailed,    // the pending lines could not be appended; no end line attempted
    EndLineFailed,  // the end line could not be appended, or the file not closed cleanly
};

// Creates the folder and its parents, makes it current, creates the lowest free RecNN.txt
// exclusively and without following a link (never overwriting anything), writes the header
// with `now` and keeps the file open until the stop.
RecordStart StartRecording(const std::string& folder, const std::tm& now);

// Ends the recording: appends `pendingLines` (when there are any), then the end line with
// `now`, and closes the file. Recording is off afterwards in every case. The Received log's
// StopRecording says which lines are pending.
RecordStop FinishRecord(const std::string& pendingLines, const std::tm& now);

bool IsRecording();

// Name of the current (or last) record file, "RecNN.txt", and its full path at the start.
std::string RecordFileName();
std::string RecordFilePath();

// Appends text to the open record file. False when recording is off or the text cannot be
// written whole; the file is then cut back to the length it had, so a retry writes each line
// once.
bool AppendRecordBlock(const std::string& text);

// "Date: %Y-%m-%d  Time:%H:%M:%S\r\n" and "End Date: ..." of a local time.
std::string RecordHeaderLine(const std::tm& when);
std::string RecordEndLine(const std::tm& when);

// The local time now.
std::tm LocalTimeNow();
