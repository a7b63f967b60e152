#include "testlib/StdoutCapture.h"

#include <QByteArray>

#include <cstdio>
#include <iostream>

#include <unistd.h>

namespace TestLib {

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    std::cout.flush();
    char name[] = "/tmp/tarnwick-stdout-XXXXXX";
    m_fileFd = mkstemp(name);
    if (m_fileFd < 0)
        return;
    unlink(name);
    m_savedFd = dup(STDOUT_FILENO);
    dup2(m_fileFd, STDOUT_FILENO);
}

StdoutCapture::~StdoutCapture()
{
    take();
}

QString StdoutCapture::take()
{
    if (m_savedFd < 0)
        return {};
    std::fflush(stdout);
    std::cout.flush();
    dup2(m_savedFd, STDOUT_FILENO);
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
