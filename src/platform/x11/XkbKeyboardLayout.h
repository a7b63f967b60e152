#pragma once

#include "platform/KeyboardLayout.h"

#include <QAbstractNativeEventFilter>
#include <QString>

#include <array>
#include <memory>

struct xcb_connection_t;

namespace Platform::X11 {

// The X server's keyboard layout read through xkbcommon: what each key types without modifiers
// on the first layout (group) of the keymap that types Latin letters. The keymap is read once and
// read again only after the server reports a change (XKB new-keyboard or map notifications on
// Qt's connection), so lookups are table reads.
class XkbKeyboardLayout final : public KeyboardLayout, private QAbstractNativeEventFilter {
public:
    // Uses Qt's own connection; nothing when the application does not run on xcb or the server
    // lacks the XKB extension.
    static std::unique_ptr<XkbKeyboardLayout> create();
    ~XkbKeyboardLayout() override;

    QString unshiftedCharacters(quint16 keyCode) const override;

    // The index of the layout (group) that answers, as last read; -1 before a keymap was read.
    int latinLayoutIndex() const;
    // How many times the keymap was read.
    int keymapLoads() const { return m_loads; }

private:
    XkbKeyboardLayout(xcb_connection_t *connection, quint8 xkbEventBase, qint32 deviceId);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void reloadIfNeeded() const;
    void reload() const;

    xcb_connection_t *m_connection;
    quint8 m_xkbEventBase;
    qint32 m_deviceId;
    mutable bool m_stale = true;
    mutable int m_loads = 0;
    mutable int m_layoutIndex = -1;
    // Indexed by macOS key code; codes above 127 have no X key.
    mutable std::array<QString, 128> m_characters;
};

} // namespace Platform::X11
