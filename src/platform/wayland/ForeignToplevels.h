#pragma once

#include "platform/FrontWindow.h"

#include <QHash>

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct wl_array;

namespace Platform::Wayland {

class WaylandConnection;

// The window in front on a wlroots compositor, through zwlr_foreign_toplevel_manager_v1: the
// toplevel whose state says "activated", reported with its app id as the window class (the table
// of terminals lists Wayland app ids too). Ids are ours, one per toplevel, never reused.
class ForeignToplevels final : public FrontWindow {
public:
    // `connection` must outlive us. Check isAvailable().
    explicit ForeignToplevels(WaylandConnection &connection);
    ~ForeignToplevels() override;
    ForeignToplevels(const ForeignToplevels &) = delete;
    ForeignToplevels &operator=(const ForeignToplevels &) = delete;

    bool isAvailable() const { return m_manager != nullptr; }

    // Asks the compositor for the latest state first (one round trip).
    FrontWindowInfo current() const override;
    // The activated toplevel as the events read so far tell; 0 for none. No round trip.
    quint64 activatedId() const { return m_activated; }

private:
    struct Toplevel {
        quint64 id = 0;
        QString appId;
        QString pendingAppId;
        bool activated = false;
        bool pendingActivated = false;
    };

    static void onToplevel(
        void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *handle);
    static void onFinished(void *data, zwlr_foreign_toplevel_manager_v1 *);
    static void onAppId(void *data, zwlr_foreign_toplevel_handle_v1 *handle, const char *appId);
    static void onState(void *data, zwlr_foreign_toplevel_handle_v1 *handle, wl_array *state);
    static void onDone(void *data, zwlr_foreign_toplevel_handle_v1 *handle);
    static void onClosed(void *data, zwlr_foreign_toplevel_handle_v1 *handle);

    WaylandConnection &m_connection;
    zwlr_foreign_toplevel_manager_v1 *m_manager = nullptr;
    QHash<zwlr_foreign_toplevel_handle_v1 *, Toplevel> m_toplevels;
    quint64 m_nextId = 1;
    quint64 m_activated = 0;
};

} // namespace Platform::Wayland
