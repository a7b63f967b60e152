#pragma once

#include <QLockFile>

#include <cstdio>
#include <memory>

class CommandChannel;

// One Tarnwick per session: a second one could take neither the shortcuts nor the command
// channel. Where there is a session bus the channel's name decides; without one, a lock file per
// user and display (X11 display or Wayland socket) does.
class SingleInstance {
public:
    // Claims `channel`, or the lock file when there is no session bus. False, with the reason
    // written to `errors`, when another instance runs; the claim lasts as long as both objects.
    bool acquire(CommandChannel &channel, std::FILE *errors = stderr);

private:
    std::unique_ptr<QLockFile> m_lock;
};
