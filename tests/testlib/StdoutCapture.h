#pragma once

#include <QString>

namespace TestLib {

// Sends everything the process writes to standard output (C stdio, iostreams, QTextStream on
// stdout) into a temporary file until take() or destruction, so tests can check printed lines.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Restores standard output and answers what was written meanwhile (UTF-8). Capturing ends.
    QString take();

private:
    int m_savedFd = -1;
    int m_fileFd = -1;
};

} // namespace TestLib
