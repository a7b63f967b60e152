#pragma once

namespace Platform {
struct SessionCapabilities;
}

namespace Platform::Wayland {

// Fills the Wayland fields: whether WAYLAND_DISPLAY accepts a connection (our own, made and
// dropped here) and every global the compositor announces, with its version.
void probeWayland(SessionCapabilities &capabilities);

// Fills the sway fields: the IPC socket (SWAYSOCK, or sway's own socket in XDG_RUNTIME_DIR) when
// it answers get_version, and the version it gives.
void probeSway(SessionCapabilities &capabilities);

// Fills the Hyprland field: a running instance (HYPRLAND_INSTANCE_SIGNATURE) and hyprctl on PATH.
void probeHyprland(SessionCapabilities &capabilities);

// Fills the compositor fields, after the other probes: the variables that wlroots compositors set
// for their programs, and from them and the globals, which compositor this is.
void probeCompositor(SessionCapabilities &capabilities);

} // namespace Platform::Wayland
