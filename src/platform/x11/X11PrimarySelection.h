#pragma once

#include "platform/PrimarySelection.h"
#include "platform/x11/SelectionFetchWatcher.h"

#include <QObject>

#include <optional>

struct xcb_connection_t;

namespace Platform::X11 {

// PRIMARY through Qt's clipboard (QClipboard::Selection), with the owner checked on the X server.
// The selection belongs to the front window when its owner is that window, a window inside it,
// or any window created by the same X client (toolkits own selections with hidden windows of
// their own). Main thread only; needs a QGuiApplication on xcb, without which the selection never
// belongs to any window and nothing can be written.
class X11PrimarySelection final : public QObject, public PrimarySelection {
    Q_OBJECT

public:
    explicit X11PrimarySelection(QObject *parent = nullptr);
    ~X11PrimarySelection() override;

    std::optional<QString> stringOwnedBy(const FrontWindowInfo &window) const override;
    bool setString(const QString &text) override;
    bool contentsFetchedSinceLastWrite() const override;

    // Whether the current owner of PRIMARY belongs to `window` (see the class comment).
    bool isOwnedBy(const FrontWindowInfo &window) const;

private:
    bool ownerBelongsTo(quint32 owner, quint32 window) const;

    xcb_connection_t *m_connection;
    std::optional<SelectionFetchWatcher> m_fetches;
};

} // namespace Platform::X11
