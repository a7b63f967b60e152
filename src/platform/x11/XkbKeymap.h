#pragma once

#include <QAbstractNativeEventFilter>

#include <memory>
#include <optional>

struct xcb_connection_t;
struct xkb_keymap;

namespace Platform::X11 {

// The X server's current keymap through xkbcommon, read on first use and again only after the
// server reports a change (XKB new-keyboard or map notifications, seen on Qt's connection), so
// that asking is a table read. Main thread only.
class XkbKeymap final : private QAbstractNativeEventFilter {
public:
    // Uses Qt's own connection; nothing when the application does not run on xcb or the server
    // lacks the XKB extension.
    static std::unique_ptr<XkbKeymap> create();
    ~XkbKeymap() override;
    XkbKeymap(const XkbKeymap &) = delete;
    XkbKeymap &operator=(const XkbKeymap &) = delete;

    // The keymap as the server has it now (owned here, valid until the next call); nullptr when
    // it cannot be read.
    xkb_keymap *keymap();
    // How many times the keymap was read: a change tells that what was derived from it is stale.
    int loads() const { return m_loads; }
    // The layout (group) that the keyboard types with now, or nothing when it cannot be asked.
    std::optional<quint32> activeLayout() const;

    xcb_connection_t *connection() const { return m_connection; }

    // Marks the keymap as changed, for a change made by this process itself.
    void invalidate() { m_stale = true; }

private:
    XkbKeymap(xcb_connection_t *connection, quint8 xkbEventBase, qint32 deviceId);
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    struct KeymapDeleter {
        void operator()(xkb_keymap *keymap) const;
    };

    xcb_connection_t *m_connection;
    quint8 m_xkbEventBase;
    qint32 m_deviceId;
    bool m_stale = true;
    int m_loads = 0;
    std::unique_ptr<xkb_keymap, KeymapDeleter> m_keymap;
};

} // namespace Platform::X11
