#include "testlib/OutputCapture.h"

#include <QByteArray>

#include <cstdio>
#include <iostream>

#include <unistd.h>

namespace TestLib {

OutputCapture::OutputCapture(Stream stream)
    : m_fd(stream == Stream::standardError ? STDERR_FILENO : STDOUT_FILENO)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::cout.flush();
    char name[] = "/tmp/tarnwick-stdout-XXXXXX";
    m_fileFd = mkstemp(name);
    if (m_fileFd < 0)
        return;
    unlink(name);
    m_savedFd = dup(m_fd);
    dup2(m_fileFd, m_fd);
}

OutputCapture::~OutputCapture()
{
    take();
}

QString OutputCapture::take()
{
    if (m_savedFd < 0)
        return {};
    std::fflush(stdout);
    std::fflush(stderr);
    std::cout.flush();
    dup2(m_savedFd, m_fd);
    close(m_savedFd);
    m_savedFd = -1;

    QByteArray bytes;
    lseek(m_fileFd, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(m_fileFd, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    close(m_fileFd);
    m_fileFd = -1;
    return QString::fromUtf8(bytes);
}

} // namespace TestLib
