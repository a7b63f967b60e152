#pragma once

#include "platform/Pasteboard.h"

#include <QHash>
#include <QObject>

#include <array>
#include <memory>
#include <optional>

struct zwlr_data_control_manager_v1;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

namespace Platform::Wayland {

class WaylandConnection;

// The seat's clipboard and primary selection through zwlr_data_control_manager_v1, which lets a
// program without keyboard focus read and replace them.
//
// Offers are read lazily: a new selection only tells its MIME types; bytes are fetched on demand,
// each type through its own pipe. Our own contents are kept here and written to whoever asks, by
// the event loop, never blocking on a slow reader. Main thread only.
class DataControl final : public QObject {
    Q_OBJECT

public:
    enum class Selection { Clipboard = 0, Primary = 1 };

    // Uses `connection`'s seat; `connection` must outlive us. Check isAvailable().
    explicit DataControl(WaylandConnection &connection, QObject *parent = nullptr);
    ~DataControl() override;

    // Whether the compositor gave us a data-control device (for the primary selection: version 2).
    bool isAvailable(Selection selection = Selection::Clipboard) const;

    // Counts every new selection of that kind, ours included.
    qint64 changeCount(Selection selection) const { return m_state[index(selection)].changeCount; }
    // The MIME types of the current selection, in the owner's order; empty when there is none.
    QStringList types(Selection selection) const;
    // The bytes of `type`, read from the owner (at most `frozenOwner` of waiting per read); nothing
    // when the owner refused, closed without a word, or did not answer in time.
    std::optional<QByteArray> data(Selection selection, const QString &type);
    // The plain text of the selection, from the first text type it offers.
    std::optional<QString> text(Selection selection);

    // Makes these types and bytes the selection (owned by us until someone replaces it); an
    // empty list clears it. False when there is no device.
    bool publish(Selection selection, const PasteboardItem &contents);
    // Whether another client fetched what we last published, other than the secret marker, after
    // a keystroke went through our connection: a paste. Clipboard managers fetch at once.
    bool fetchedSinceLastPublish(Selection selection) const { return m_state[index(selection)].fetched; }

    // Our text types: UTF-8 first, then the older names X11 clients ask for.
    static QStringList textTypes();
    static constexpr int frozenOwnerMs = 2000;

Q_SIGNALS:
    // A new selection of that kind arrived (after its types are known).
    void changed(Selection selection);

private:
    struct Source;
    struct State {
        qint64 changeCount = 0;
        zwlr_data_control_offer_v1 *offer = nullptr;
        std::unique_ptr<Source> own;
        bool fetched = false;
    };
    static int index(Selection selection) { return int(selection); }

    static void onDataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void onSelection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void onFinished(void *data, zwlr_data_control_device_v1 *);
    static void onPrimarySelection(
        void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer);
    static void onOfferType(void *data, zwlr_data_control_offer_v1 *offer, const char *type);
    static void onSend(void *data, zwlr_data_control_source_v1 *source, const char *type, int32_t fd);
    static void onCancelled(void *data, zwlr_data_control_source_v1 *source);

    void setOffer(Selection selection, zwlr_data_control_offer_v1 *offer);
    void destroyOffer(zwlr_data_control_offer_v1 *offer);
    void writeTo(int fd, const QByteArray &bytes);

    WaylandConnection &m_connection;
    zwlr_data_control_manager_v1 *m_manager = nullptr;
    zwlr_data_control_device_v1 *m_device = nullptr;
    quint32 m_version = 0;
    std::array<State, 2> m_state;
    // Types of offers announced but not yet made a selection, and of the current ones.
    QHash<zwlr_data_control_offer_v1 *, QStringList> m_offerTypes;
};

} // namespace Platform::Wayland
