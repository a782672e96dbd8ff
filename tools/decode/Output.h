#pragma once

#include <string>
#include <string_view>

// One output of the tool, standard output or a named file, written through a buffer. Every
// write, the last flush and the close are checked, and the first failure sticks: an output
// that failed is reported, never taken for done.
class Output {
public:
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();

    // Standard output when `path` is empty; otherwise the file, created or truncated.
    bool Open(const std::string& path);
    // False once anything has failed.
    bool Write(std::string_view data);
    // Flushes and closes. False when anything failed; a file it wrote is then removed, so no
    // half-written file is left to be taken for a whole one.
    bool Finish();
    // Removes the file it wrote, for a run that ends without finishing it.
    void Discard();
    // Why it failed, e.g. "cannot write run.csv: No space left on device".
    const std::string& Error() const { return m_error; }

private:
    bool Flush();
    void Fail(const char* what, int error);
    void RemoveFile();

    std::string m_path;
    std::string m_name;  // the path, or "standard output"
    int m_fd = -1;
    bool m_ownFile = false;  // a regular file opened by name: removed when it fails
    std::string m_buffer;
    std::string m_error;
};
