#pragma once

#include <string>
#include <string_view>

// A new file for an export, created in a folder as STEM + SUFFIX, or STEM-2 + SUFFIX, STEM-3 ...
// when the name is taken: exclusively and never through a link, so an export neither replaces
// anything nor lands anywhere but in the folder. Every write and the close are checked; a file
// that was not written whole is removed, so that no cut file is taken for an export.
class ExportFile {
public:
    static constexpr int kMaxNumber = 99;  // STEM-2 .. STEM-99 after STEM itself

    ExportFile() = default;
    ExportFile(const ExportFile&) = delete;
    ExportFile& operator=(const ExportFile&) = delete;
    ~ExportFile();  // removes a file that was not finished

    // False with Error() saying why when no file could be made. Numbers go up to `maxNumber`.
    bool Create(const std::string& folder, const std::string& stem, const std::string& suffix,
                int maxNumber = kMaxNumber);
    // False once anything has failed; the first failure sticks.
    bool Write(std::string_view data);
    // Closes the file. False when anything failed: the file is then removed.
    bool Finish();

    const std::string& Path() const { return m_path; }
    // Why it failed, e.g. "No space left on device".
    const std::string& Error() const { return m_error; }
    // Create failed because every name was taken.
    bool NamesTaken() const { return m_namesTaken; }

private:
    void Fail(int error);
    void Remove();

    int m_fd = -1;
    std::string m_path;
    std::string m_error;
    bool m_created = false;  // a file of ours is under m_path until it is finished or removed
    bool m_namesTaken = false;
    unsigned long long m_device = 0, m_inode = 0;
};

// A whole export written at once into a new file, as above: `folder` is made when it is missing,
// and names go up to STEM-9999. The path written, or why nothing was (a file that could not be
// written whole is removed again).
struct NewFileResult {
    std::string path;   // the file written, empty when none was
    std::string error;  // why nothing was written
};
NewFileResult WriteNewFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix, std::string_view contents);
