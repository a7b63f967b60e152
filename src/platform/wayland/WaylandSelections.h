#pragma once

#include "platform/Pasteboard.h"
#include "platform/PrimarySelection.h"
#include "platform/wayland/DataControl.h"

namespace Platform::Wayland {

class ForeignToplevels;

// The clipboard as one item whose types are the MIME types its owner offers. Several items are
// merged into one on writing (the first item's bytes win for a type that several hold).
class DataControlPasteboard final : public Pasteboard {
public:
    // `selections` must outlive us.
    explicit DataControlPasteboard(DataControl &selections);
    ~DataControlPasteboard() override;

    qint64 changeCount() const override;
    QList<QStringList> itemTypes() const override;
    std::optional<QByteArray> data(int index, const QString &type) const override;
    void clearContents() override;
    bool writeItems(const QList<PasteboardItem> &items) override;
    // Marked secret for clipboard managers.
    void setString(const QString &text) override;
    std::optional<QString> string() const override;
    void setChangeObserver(std::function<void()> observer) override;
    // A paste fetched it: a fetch after our next keystroke, never a clipboard manager's at once.
    bool contentsFetchedSinceLastWrite() const override;

private:
    DataControl &m_selections;
    std::function<void()> m_changeObserver;
    // Receives the queued change calls; they go with it.
    QObject m_context;
};

// The primary selection. Wayland does not tell who owns a selection; a selection made while a
// window was in front counts as that window's (only the focused client can select), so ownership
// is known only with the front window from `toplevels`.
class DataControlPrimarySelection final : public QObject, public PrimarySelection {
    Q_OBJECT

public:
    // Both must outlive us; without `toplevels` no selection counts as any window's.
    DataControlPrimarySelection(DataControl &selections, const ForeignToplevels *toplevels);

    std::optional<QString> stringOwnedBy(const FrontWindowInfo &window) const override;
    bool setString(const QString &text) override;
    bool contentsFetchedSinceLastWrite() const override;

private:
    DataControl &m_selections;
    const ForeignToplevels *m_toplevels;
    quint64 m_ownerWindow = 0;
};

// The contents we put on a selection for a moment: text, marked secret for clipboard managers.
PasteboardItem secretText(const QString &text);

} // namespace Platform::Wayland
