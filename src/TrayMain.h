#pragma once

// Runs the tray application until the user quits it; returns the process's exit status.
int runTrayApplication(int &argc, char **argv);
