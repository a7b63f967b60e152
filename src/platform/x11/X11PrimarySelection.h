#pragma once

#include "platform/PrimarySelection.h"

struct xcb_connection_t;

namespace Platform::X11 {

// PRIMARY through Qt's clipboard (QClipboard::Selection), with the owner checked on the X server.
// The selection belongs to the front window when its owner is that window, a window inside it,
// or any window created by the same X client (toolkits own selections with hidden windows of
// their own).
class X11PrimarySelection final : public PrimarySelection {
public:
    // Uses `connection` for the owner checks, or Qt's own connection when it is null. Without an
    // X connection the selection never belongs to any window.
    explicit X11PrimarySelection(xcb_connection_t *connection = nullptr);

    std::optional<QString> stringOwnedBy(const FrontWindowInfo &window) const override;
    bool setString(const QString &text) override;

    // Whether the current owner of PRIMARY belongs to `window` (see the class comment).
    bool isOwnedBy(const FrontWindowInfo &window) const;

private:
    bool ownerBelongsTo(quint32 owner, quint32 window) const;

    xcb_connection_t *m_connection;
};

} // namespace Platform::X11
