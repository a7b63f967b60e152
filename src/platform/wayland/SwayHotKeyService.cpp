#include "platform/wayland/SwayHotKeyService.h"

#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/X11HotKeyService.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <xkbcommon/xkbcommon.h>

namespace Platform::Wayland {

namespace {

// sway's modifier names in one spelling each, in the order combinations are written here: the
// order of the X11 modifier bits (Shift, Lock, Control, Mod1 to Mod5).
const QStringList modifierOrder {QStringLiteral("Shift"), QStringLiteral("Lock"), QStringLiteral("Ctrl"),
    QStringLiteral("Mod1"), QStringLiteral("Mod2"), QStringLiteral("Mod3"), QStringLiteral("Mod4"),
    QStringLiteral("Mod5")};

QString canonicalModifier(const QString &name)
{
    const QString lower = name.toLower();
    if (lower == QLatin1String("control") || lower == QLatin1String("ctrl"))
        return QStringLiteral("Ctrl");
    if (lower == QLatin1String("alt"))
        return QStringLiteral("Mod1");
    if (lower == QLatin1String("super") || lower == QLatin1String("logo"))
        return QStringLiteral("Mod4");
    for (const QString &modifier : modifierOrder) {
        if (lower == modifier.toLower())
            return modifier;
    }
    return {};
}

QString joined(QStringList modifiers, quint32 keycode)
{
    std::sort(modifiers.begin(), modifiers.end(), [](const QString &a, const QString &b) {
        return modifierOrder.indexOf(a) < modifierOrder.indexOf(b);
    });
    modifiers.removeDuplicates();
    modifiers.append(QString::number(keycode));
    return modifiers.join(QLatin1Char('+'));
}

// The key code that types `name` with no modifier on the keymap of the environment (as sway
// compiles the configuration's bindsym keys), or 0.
quint32 keycodeForSymbolName(const QString &name)
{
    static xkb_context *const context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    static xkb_keymap *const keymap
        = context ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!keymap)
        return 0;
    xkb_keysym_t keysym = xkb_keysym_from_name(name.toUtf8().constData(), XKB_KEYSYM_NO_FLAGS);
    if (keysym == XKB_KEY_NoSymbol)
        keysym = xkb_keysym_from_name(name.toUtf8().constData(), XKB_KEYSYM_CASE_INSENSITIVE);
    keysym = xkb_keysym_to_lower(keysym);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap); code <= xkb_keymap_max_keycode(keymap);
         ++code) {
        const xkb_keysym_t *syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, 0, &syms) > 0 && syms[0] == keysym)
            return code;
    }
    return 0;
}

} // namespace

SwayHotKeyService::SwayHotKeyService(const QString &socketPath, QObject *parent)
    : QObject(parent)
    , m_commands(socketPath)
    , m_events(socketPath)
{
    readUserConfiguration();
    // Workspace events tell of a reload of the configuration, among other things.
    if (!m_events.request(SwayIpc::Subscribe, QByteArrayLiteral(R"(["binding", "shutdown", "workspace"])")))
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_events.socket(), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SwayHotKeyService::readEvents);
}

void SwayHotKeyService::readUserConfiguration()
{
    if (const std::optional<QByteArray> config = m_commands.request(SwayIpc::GetConfig, {})) {
        m_userCombinations = configuredCombinations(
            QJsonDocument::fromJson(*config).object().value(QStringLiteral("config")).toString());
    }
}

SwayHotKeyService::~SwayHotKeyService()
{
    for (const Binding &binding : std::as_const(m_bindings))
        run(QStringLiteral("unbindcode %1; unbindcode --release %1").arg(binding.combination));
}

bool SwayHotKeyService::isAvailable() const
{
    return m_commands.isConnected() && m_events.isConnected();
}

std::optional<QString> SwayHotKeyService::combination(quint32 carbonKeyCode, quint32 carbonModifiers)
{
    // sway names the modifiers as X11 does, so they map as X11 grabs map them.
    const std::optional<quint16> mask = X11::X11HotKeyService::xModifiersForCarbon(carbonModifiers);
    const std::optional<quint8> keycode = X11::xKeycodeForMacKeyCode(carbonKeyCode);
    if (!mask || !keycode)
        return std::nullopt;
    QStringList modifiers;
    for (int bit = 0; bit < modifierOrder.size(); ++bit) {
        if (*mask & (1u << bit))
            modifiers << modifierOrder.at(bit);
    }
    return joined(modifiers, *keycode);
}

QSet<QString> SwayHotKeyService::configuredCombinations(const QString &config)
{
    QHash<QString, QString> variables;
    QSet<QString> combinations;
    static const QRegularExpression space(QStringLiteral("\\s+"));
    for (const QString &rawLine : config.split(QLatin1Char('\n'))) {
        QStringList words = rawLine.trimmed().split(space, Qt::SkipEmptyParts);
        if (words.size() >= 3 && words[0] == QLatin1String("set") && words[1].startsWith(QLatin1Char('$'))) {
            variables.insert(words[1], words.mid(2).join(QLatin1Char(' ')));
            continue;
        }
        if (words.isEmpty()
            || (words[0] != QLatin1String("bindsym") && words[0] != QLatin1String("bindcode")))
            continue;
        const bool byCode = words[0] == QLatin1String("bindcode");
        QString keys;
        for (qsizetype i = 1; i < words.size() && keys.isEmpty(); ++i) {
            if (!words[i].startsWith(QLatin1String("--")))
                keys = words[i];
        }
        // Longest names first, so that $mod does not eat into $modifier.
        QStringList names = variables.keys();
        std::sort(names.begin(), names.end(),
            [](const QString &a, const QString &b) { return a.size() > b.size(); });
        for (const QString &name : std::as_const(names))
            keys.replace(name, variables.value(name));

        QStringList parts = keys.split(QLatin1Char('+'), Qt::SkipEmptyParts);
        if (parts.isEmpty())
            continue;
        const QString key = parts.takeLast();
        QStringList modifiers;
        for (const QString &part : std::as_const(parts))
            modifiers << canonicalModifier(part);
        bool numeric = false;
        const quint32 code = byCode ? key.toUInt(&numeric) : keycodeForSymbolName(key);
        if (modifiers.contains(QString()) || code == 0 || (byCode && !numeric))
            continue;
        combinations.insert(joined(modifiers, code));
    }
    return combinations;
}

QString SwayHotKeyService::tag(bool release, quint32 id) const
{
    return QStringLiteral("tarnwick-%1-%2-%3")
        .arg(QCoreApplication::applicationPid())
        .arg(release ? QStringLiteral("release") : QStringLiteral("press"))
        .arg(id);
}

bool SwayHotKeyService::run(const QString &commands, QString *error)
{
    const std::optional<QByteArray> reply = m_commands.request(SwayIpc::RunCommand, commands.toUtf8());
    if (!reply) {
        if (error)
            *error = QStringLiteral("sway did not answer");
        return false;
    }
    bool allDone = true;
    for (const QJsonValue &result : QJsonDocument::fromJson(*reply).array()) {
        if (result.toObject().value(QStringLiteral("success")).toBool())
            continue;
        allDone = false;
        if (error && error->isEmpty())
            *error = result.toObject().value(QStringLiteral("error")).toString();
    }
    return allDone;
}

int SwayHotKeyService::registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId)
{
    if (!isAvailable())
        return eventInternalErr;
    for (const Binding &binding : std::as_const(m_bindings)) {
        if (binding.hotKeyId.id == hotKeyId.id)
            return paramErr;
    }
    const std::optional<QString> keys = combination(carbonKeyCode, carbonModifiers);
    if (!keys)
        return eventHotKeyInvalidErr;
    for (const Binding &binding : std::as_const(m_bindings)) {
        if (binding.combination == *keys)
            return eventHotKeyExistsErr;
    }
    const int status = bind(*keys, hotKeyId.id);
    if (status == noErr)
        m_bindings.append({hotKeyId, *keys, false});
    return status;
}

int SwayHotKeyService::bind(const QString &keys, quint32 id)
{
    if (m_userCombinations.contains(keys)) {
        QTextStream(stderr) << "tarnwick: " << keys
                            << " is bound in the sway configuration; leaving it to that binding" << Qt::endl;
        return eventHotKeyExistsErr;
    }
    QString error;
    // --no-warn: sway would otherwise put up a warning bar for a binding added a second time.
    if (!run(QStringLiteral("bindcode --no-warn %1 nop %2; bindcode --no-warn --release %1 nop %3")
                 .arg(keys, tag(false, id), tag(true, id)),
            &error)) {
        run(QStringLiteral("unbindcode %1; unbindcode --release %1").arg(keys));
        QTextStream(stderr) << "tarnwick: sway refused the binding " << keys << ": " << error << Qt::endl;
        return eventInternalErr;
    }
    return noErr;
}

void SwayHotKeyService::bindAgainAfterReload()
{
    readUserConfiguration();
    const QList<Binding> bindings = m_bindings;
    for (const Binding &binding : bindings) {
        const int status = bind(binding.combination, binding.hotKeyId.id);
        if (status == noErr)
            continue;
        m_bindings.removeIf([&](const Binding &b) { return b.hotKeyId.id == binding.hotKeyId.id; });
        reportStatus(binding.hotKeyId, status);
    }
}

void SwayHotKeyService::unregisterHotKey(quint32 id)
{
    for (qsizetype i = 0; i < m_bindings.size(); ++i) {
        if (m_bindings[i].hotKeyId.id == id) {
            run(QStringLiteral("unbindcode %1; unbindcode --release %1").arg(m_bindings[i].combination));
            m_bindings.removeAt(i);
            return;
        }
    }
}

bool SwayHotKeyService::isReserved(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    if (carbonKeyCode < 0 || carbonModifiers < 0 || carbonModifiers > 0xffffffff)
        return false;
    const std::optional<QString> keys = combination(quint32(carbonKeyCode), quint32(carbonModifiers));
    return keys && m_userCombinations.contains(*keys);
}

int SwayHotKeyService::installEventHandler(EventHandler handler)
{
    m_handler = std::move(handler);
    return noErr;
}

void SwayHotKeyService::setHandlerListening(bool listening)
{
    m_listening = listening;
}

void SwayHotKeyService::deliver(EventKind kind, HotKeyId hotKeyId)
{
    if (!m_listening || !m_handler)
        return;
    const EventHandler handler = m_handler; // it may replace itself or unregister this key
    handler({kind, hotKeyId});
}

void SwayHotKeyService::readEvents()
{
    const QList<SwayIpc::Message> events = m_events.takeEvents();
    bool ended = !m_events.isConnected();
    for (const SwayIpc::Message &event : events) {
        ended = ended || event.type == SwayIpc::ShutdownEvent;
        if (event.type == SwayIpc::WorkspaceEvent
            && QJsonDocument::fromJson(event.payload).object().value(QStringLiteral("change")).toString()
                == QLatin1String("reload"))
            bindAgainAfterReload();
        if (event.type != SwayIpc::BindingEvent)
            continue;
        const QString command = QJsonDocument::fromJson(event.payload)
                                    .object()
                                    .value(QStringLiteral("binding"))
                                    .toObject()
                                    .value(QStringLiteral("command"))
                                    .toString();
        for (qsizetype i = 0; i < m_bindings.size(); ++i) {
            Binding &binding = m_bindings[i];
            if (command == QLatin1String("nop ") + tag(false, binding.hotKeyId.id)) {
                // sway repeats a held binding: one press until the release.
                if (binding.pressed)
                    break;
                binding.pressed = true;
                deliver(EventKind::hotKeyPressed, binding.hotKeyId);
                break;
            }
            if (command == QLatin1String("nop ") + tag(true, binding.hotKeyId.id)) {
                binding.pressed = false;
                deliver(EventKind::hotKeyReleased, binding.hotKeyId);
                break;
            }
        }
    }
    if (!ended)
        return;
    // sway is going: its bindings go with it, whatever we asked for.
    m_notifier->setEnabled(false);
    const QList<Binding> withdrawn = m_bindings;
    for (const Binding &binding : withdrawn)
        reportStatus(binding.hotKeyId, eventInternalErr);
}

} // namespace Platform::Wayland
