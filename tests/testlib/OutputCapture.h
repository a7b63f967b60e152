#pragma once

#include <QString>

namespace TestLib {

// Sends everything the process writes to standard output (C stdio, iostreams, QTextStream on
// stdout), or to standard error with `Stream::standardError`, into a temporary file until take()
// or destruction, so tests can check printed lines.
class OutputCapture {
public:
    enum class Stream { standardOutput, standardError };
    explicit OutputCapture(Stream stream = Stream::standardOutput);
    ~OutputCapture();
    OutputCapture(const OutputCapture &) = delete;
    OutputCapture &operator=(const OutputCapture &) = delete;

    // Restores standard output and answers what was written meanwhile (UTF-8). Capturing ends.
    QString take();

private:
    int m_fd = 1;
    int m_savedFd = -1;
    int m_fileFd = -1;
};

} // namespace TestLib
