#include "platform/wayland/ForeignToplevels.h"

#include "platform/wayland/WaylandConnection.h"

#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace Platform::Wayland {

namespace {

void ignoreTitle(void *, zwlr_foreign_toplevel_handle_v1 *, const char *) { }
void ignoreOutput(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) { }
void ignoreParent(void *, zwlr_foreign_toplevel_handle_v1 *, zwlr_foreign_toplevel_handle_v1 *) { }

} // namespace

ForeignToplevels::ForeignToplevels(WaylandConnection &connection)
    : m_connection(connection)
{
    m_manager = static_cast<zwlr_foreign_toplevel_manager_v1 *>(
        connection.bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!m_manager)
        return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener {onToplevel, onFinished};
    zwlr_foreign_toplevel_manager_v1_add_listener(m_manager, &listener, this);
    // Every existing toplevel is announced right away, each with its state and a done.
    connection.roundtrip();
    connection.roundtrip();
}

ForeignToplevels::~ForeignToplevels()
{
    for (auto it = m_toplevels.cbegin(); it != m_toplevels.cend(); ++it)
        zwlr_foreign_toplevel_handle_v1_destroy(it.key());
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_stop(m_manager);
    m_connection.flush();
}

void ForeignToplevels::onToplevel(
    void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *handle)
{
    auto *self = static_cast<ForeignToplevels *>(data);
    self->m_toplevels.insert(handle, Toplevel {self->m_nextId++, {}, {}, false, false});
    static const zwlr_foreign_toplevel_handle_v1_listener listener {
        ignoreTitle, onAppId, ignoreOutput, ignoreOutput, onState, onDone, onClosed, ignoreParent};
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, self);
}

void ForeignToplevels::onFinished(void *data, zwlr_foreign_toplevel_manager_v1 *manager)
{
    // The compositor stops telling: the manager is dead, the toplevels we have stay as they were.
    auto *self = static_cast<ForeignToplevels *>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    self->m_manager = nullptr;
}

void ForeignToplevels::onAppId(void *data, zwlr_foreign_toplevel_handle_v1 *handle, const char *appId)
{
    static_cast<ForeignToplevels *>(data)->m_toplevels[handle].pendingAppId = QString::fromUtf8(appId);
}

void ForeignToplevels::onState(void *data, zwlr_foreign_toplevel_handle_v1 *handle, wl_array *state)
{
    bool activated = false;
    const auto *values = static_cast<const uint32_t *>(state->data);
    for (size_t i = 0; i < state->size / sizeof(uint32_t); ++i)
        activated = activated || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    static_cast<ForeignToplevels *>(data)->m_toplevels[handle].pendingActivated = activated;
}

void ForeignToplevels::onDone(void *data, zwlr_foreign_toplevel_handle_v1 *handle)
{
    auto *self = static_cast<ForeignToplevels *>(data);
    Toplevel &toplevel = self->m_toplevels[handle];
    toplevel.appId = toplevel.pendingAppId;
    toplevel.activated = toplevel.pendingActivated;
    if (toplevel.activated)
        self->m_activated = toplevel.id;
    else if (self->m_activated == toplevel.id)
        self->m_activated = 0;
}

void ForeignToplevels::onClosed(void *data, zwlr_foreign_toplevel_handle_v1 *handle)
{
    auto *self = static_cast<ForeignToplevels *>(data);
    if (self->m_activated == self->m_toplevels.value(handle).id)
        self->m_activated = 0;
    self->m_toplevels.remove(handle);
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
}

FrontWindowInfo ForeignToplevels::current() const
{
    m_connection.roundtrip();
    for (const Toplevel &toplevel : m_toplevels) {
        if (toplevel.id == m_activated)
            return {toplevel.id, toplevel.appId};
    }
    return {};
}

} // namespace Platform::Wayland
