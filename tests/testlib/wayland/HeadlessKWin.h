#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A KWin of the test's own: kwin_wayland on a virtual output, with its home, configuration and
// runtime directories in a temporary folder, on the private session bus that CTest starts the test
// in (PRIVATE_BUS). KWin there hosts kglobalaccel and takes scripts; programs get fake input
// when a desktop entry in the private data folder names them.
class HeadlessKWin {
public:
    HeadlessKWin() = default;
    ~HeadlessKWin();
    HeadlessKWin(const HeadlessKWin &) = delete;
    HeadlessKWin &operator=(const HeadlessKWin &) = delete;

    // Starts KWin and waits until its socket and D-Bus services are there. Answers an empty text
    // when it runs, otherwise why it cannot (to skip the test with).
    QString start();

    // Lets the program at `executable` (an absolute path) use fake input from its next connection
    // on, as the installed desktop entry does for Tarnwick.
    void grantFakeInput(const QString &executable);

    // Points this process (and the programs it starts) at this KWin: WAYLAND_DISPLAY,
    // XDG_RUNTIME_DIR and XDG_DATA_DIRS (the desktop entries of grantFakeInput) set, DISPLAY
    // removed, Qt programs on Wayland.
    void useFromThisProcess() const;

private:
    QTemporaryDir m_root;
    QProcess m_kwin;
};
