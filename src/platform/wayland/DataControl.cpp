#include "platform/wayland/DataControl.h"

#include "platform/MimeTypes.h"
#include "platform/wayland/WaylandConnection.h"

#include <QDeadlineTimer>
#include <QSocketNotifier>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "wlr-data-control-unstable-v1-client-protocol.h"

namespace Platform::Wayland {

namespace {

// Writes bytes into a pipe as the reader takes them, then closes it; deletes itself when done.
class PipeWriter final : public QObject {
public:
    PipeWriter(int fd, QByteArray bytes, QObject *parent)
        : QObject(parent)
        , m_fd(fd)
        , m_bytes(std::move(bytes))
        , m_notifier(fd, QSocketNotifier::Write)
    {
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        connect(&m_notifier, &QSocketNotifier::activated, this, [this] { writeSome(); });
        writeSome();
    }
    ~PipeWriter() override { ::close(m_fd); }

private:
    void writeSome()
    {
        while (m_written < m_bytes.size()) {
            const ssize_t n
                = ::write(m_fd, m_bytes.constData() + m_written, size_t(m_bytes.size() - m_written));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return; // the notifier calls again when the reader made room
            if (n <= 0)
                break; // the reader went away
            m_written += n;
        }
        m_notifier.setEnabled(false);
        deleteLater();
    }

    int m_fd;
    QByteArray m_bytes;
    qsizetype m_written = 0;
    QSocketNotifier m_notifier;
};

} // namespace

struct DataControl::Source {
    zwlr_data_control_source_v1 *source = nullptr;
    PasteboardItem contents;
    quint64 keystrokesAtPublish = 0;
    DataControl *owner = nullptr;
    Selection selection = Selection::Clipboard;
    ~Source()
    {
        if (source)
            zwlr_data_control_source_v1_destroy(source);
    }
};

DataControl::DataControl(WaylandConnection &connection, QObject *parent)
    : QObject(parent)
    , m_connection(connection)
{
    if (!connection.isConnected() || !connection.seat())
        return;
    m_manager = static_cast<zwlr_data_control_manager_v1 *>(
        connection.bind(&zwlr_data_control_manager_v1_interface, 2));
    if (!m_manager)
        return;
    m_version = zwlr_data_control_manager_v1_get_version(m_manager);
    m_device = zwlr_data_control_manager_v1_get_data_device(m_manager, connection.seat());
    static const zwlr_data_control_device_v1_listener listener {
        onDataOffer, onSelection, onFinished, onPrimarySelection};
    zwlr_data_control_device_v1_add_listener(m_device, &listener, this);
    // The current selections arrive right after binding.
    connection.roundtrip();
}

DataControl::~DataControl()
{
    for (State &state : m_state) {
        state.own.reset();
        if (state.offer)
            destroyOffer(state.offer);
    }
    for (auto it = m_offerTypes.cbegin(); it != m_offerTypes.cend(); ++it)
        zwlr_data_control_offer_v1_destroy(it.key());
    if (m_device)
        zwlr_data_control_device_v1_destroy(m_device);
    if (m_manager)
        zwlr_data_control_manager_v1_destroy(m_manager);
    m_connection.flush();
}

bool DataControl::isAvailable(Selection selection) const
{
    return m_device && m_connection.isConnected() && (selection == Selection::Clipboard || m_version >= 2);
}

QStringList DataControl::textTypes()
{
    return {utf8PlainTextType(), plainTextType(), QStringLiteral("UTF8_STRING"), QStringLiteral("STRING"),
        QStringLiteral("TEXT")};
}

void DataControl::onDataOffer(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    auto *self = static_cast<DataControl *>(data);
    self->m_offerTypes.insert(offer, {});
    static const zwlr_data_control_offer_v1_listener listener {onOfferType};
    zwlr_data_control_offer_v1_add_listener(offer, &listener, self);
}

void DataControl::onOfferType(void *data, zwlr_data_control_offer_v1 *offer, const char *type)
{
    auto *self = static_cast<DataControl *>(data);
    QStringList &types = self->m_offerTypes[offer];
    const QString name = QString::fromUtf8(type);
    if (!types.contains(name))
        types.append(name);
}

void DataControl::onSelection(void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    static_cast<DataControl *>(data)->setOffer(Selection::Clipboard, offer);
}

void DataControl::onPrimarySelection(
    void *data, zwlr_data_control_device_v1 *, zwlr_data_control_offer_v1 *offer)
{
    static_cast<DataControl *>(data)->setOffer(Selection::Primary, offer);
}

void DataControl::onFinished(void *data, zwlr_data_control_device_v1 *)
{
    // The seat went away: the device is dead, nothing can be read or written any more.
    auto *self = static_cast<DataControl *>(data);
    zwlr_data_control_device_v1_destroy(self->m_device);
    self->m_device = nullptr;
}

void DataControl::destroyOffer(zwlr_data_control_offer_v1 *offer)
{
    m_offerTypes.remove(offer);
    zwlr_data_control_offer_v1_destroy(offer);
}

void DataControl::setOffer(Selection selection, zwlr_data_control_offer_v1 *offer)
{
    State &state = m_state[index(selection)];
    if (state.offer && state.offer != offer)
        destroyOffer(state.offer);
    state.offer = offer;
    ++state.changeCount;
    Q_EMIT changed(selection);
}

QStringList DataControl::types(Selection selection) const
{
    const State &state = m_state[index(selection)];
    if (state.own) {
        QStringList types;
        for (const auto &[type, bytes] : state.own->contents)
            types.append(type);
        return types;
    }
    return state.offer ? m_offerTypes.value(state.offer) : QStringList();
}

std::optional<QByteArray> DataControl::data(Selection selection, const QString &type)
{
    const State &state = m_state[index(selection)];
    // Our own contents: asking the compositor would make it ask us, and we would wait on ourselves.
    if (state.own) {
        for (const auto &[ownType, bytes] : state.own->contents) {
            if (ownType == type)
                return bytes;
        }
        return std::nullopt;
    }
    if (!state.offer || !m_offerTypes.value(state.offer).contains(type))
        return std::nullopt;

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return std::nullopt;
    zwlr_data_control_offer_v1_receive(state.offer, type.toUtf8().constData(), fds[1]);
    ::close(fds[1]);
    m_connection.flush();

    QByteArray bytes;
    const QDeadlineTimer deadline(frozenOwnerMs);
    bool complete = false;
    while (!deadline.hasExpired()) {
        pollfd pfd {fds[0], POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char chunk[65536];
        const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            complete = n == 0;
            break;
        }
        bytes.append(chunk, n);
    }
    ::close(fds[0]);
    if (!complete)
        return std::nullopt;
    // An empty answer is real, empty data; QByteArray() would read as "refused".
    return bytes.isNull() ? QByteArray("") : bytes;
}

std::optional<QString> DataControl::text(Selection selection)
{
    const QStringList offered = types(selection);
    for (const QString &type : textTypes()) {
        if (!offered.contains(type))
            continue;
        if (const std::optional<QByteArray> bytes = data(selection, type))
            return QString::fromUtf8(*bytes);
    }
    return std::nullopt;
}

bool DataControl::publish(Selection selection, const PasteboardItem &contents)
{
    if (!isAvailable(selection))
        return false;
    State &state = m_state[index(selection)];
    state.fetched = false;
    auto source = std::make_unique<Source>();
    if (!contents.isEmpty()) {
        source->source = zwlr_data_control_manager_v1_create_data_source(m_manager);
        source->contents = contents;
        source->keystrokesAtPublish = m_connection.keystrokeCount();
        source->owner = this;
        source->selection = selection;
        static const zwlr_data_control_source_v1_listener listener {onSend, onCancelled};
        zwlr_data_control_source_v1_add_listener(source->source, &listener, source.get());
        for (const auto &[type, bytes] : contents)
            zwlr_data_control_source_v1_offer(source->source, type.toUtf8().constData());
    }
    if (selection == Selection::Clipboard)
        zwlr_data_control_device_v1_set_selection(m_device, source->source);
    else
        zwlr_data_control_device_v1_set_primary_selection(m_device, source->source);
    state.own = source->source ? std::move(source) : nullptr;
    // The compositor's selection event for it is read before anyone looks at the change count.
    return m_connection.roundtrip();
}

void DataControl::onSend(void *data, zwlr_data_control_source_v1 *, const char *type, int32_t fd)
{
    auto *source = static_cast<Source *>(data);
    const QString name = QString::fromUtf8(type);
    QByteArray bytes;
    for (const auto &[ownType, ownBytes] : source->contents) {
        if (ownType == name) {
            bytes = ownBytes;
            break;
        }
    }
    DataControl *self = source->owner;
    if (name != passwordManagerHintType()
        && self->m_connection.keystrokeCount() > source->keystrokesAtPublish)
        self->m_state[index(source->selection)].fetched = true;
    new PipeWriter(fd, bytes, self);
}

void DataControl::onCancelled(void *data, zwlr_data_control_source_v1 *)
{
    auto *source = static_cast<Source *>(data);
    State &state = source->owner->m_state[index(source->selection)];
    if (state.own.get() == source)
        state.own.reset();
}

} // namespace Platform::Wayland
