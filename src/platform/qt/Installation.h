#pragma once

#include <QString>

// Where Tarnwick's parts live once installed, and the name desktops know it by.
namespace Platform::Installation {

// The application id: the desktop entry's and icon's name, the session-bus name, the metainfo id.
QString appId();

// The program's own data directory (<prefix>/share/tarnwick for a program in <prefix>/bin) beside
// the executable in `binaryDirectory`, or an empty text when there is none there.
QString dataDirectoryBeside(const QString &binaryDirectory);

// The data directory beside the running program, as above; needs a QCoreApplication.
QString dataDirectory();

} // namespace Platform::Installation
