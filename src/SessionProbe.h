#pragma once

#include "platform/SessionCapabilities.h"

// The session probes, run by the composition root.

// The displays: X11 (with XTEST), Wayland (with its globals), sway's IPC, Hyprland and which
// compositor it is. Needs no
// QCoreApplication, so that its answer can choose Qt's platform plugin.
void probeDisplays(Platform::SessionCapabilities &capabilities);

// The session bus: which names of interest are owned, and the portal interfaces with their
// versions. Needs a QCoreApplication.
void probeSessionBus(Platform::SessionCapabilities &capabilities);

// `tarnwick --diagnose`: probes the session, prints what it found and which implementation serves
// each seam and why, and returns the exit status (0).
int runDiagnose(int &argc, char **argv);
