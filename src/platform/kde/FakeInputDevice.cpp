#include "platform/kde/FakeInputDevice.h"

#include "platform/wayland/WaylandConnection.h"

#include <wayland-client.h>

#include "fake-input-client-protocol.h"

namespace Platform::Kde {

namespace {

// keyboard_key came with version 4.
constexpr quint32 keyboardVersion = 4;

} // namespace

FakeInputDevice::FakeInputDevice(
    Wayland::WaylandConnection &connection, const QString &application, const QString &reason)
    : m_connection(connection)
{
    m_fakeInput = static_cast<org_kde_kwin_fake_input *>(
        m_connection.bind(&org_kde_kwin_fake_input_interface, keyboardVersion, keyboardVersion));
    if (!m_fakeInput)
        return;
    // KWin ignores the events of a device until it has said who it is.
    org_kde_kwin_fake_input_authenticate(
        m_fakeInput, application.toUtf8().constData(), reason.toUtf8().constData());
    m_connection.flush();
}

FakeInputDevice::~FakeInputDevice()
{
    if (!m_fakeInput)
        return;
    org_kde_kwin_fake_input_destroy(m_fakeInput);
    m_connection.flush();
}

void FakeInputDevice::key(quint32 code, bool pressed)
{
    if (m_fakeInput)
        org_kde_kwin_fake_input_keyboard_key(
            m_fakeInput, code, pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void FakeInputDevice::flush()
{
    m_connection.flush();
}

} // namespace Platform::Kde
