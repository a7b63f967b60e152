#include "platform/kde/KWinFrontWindow.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>

namespace Platform::Kde {

namespace {

const QString kwinService = QStringLiteral("org.kde.KWin");
const QString scriptingInterface = QStringLiteral("org.kde.kwin.Scripting");
const QString scriptPlugin = QStringLiteral("tarnwick-frontwindow");
const QString objectPath = QStringLiteral("/org/tarnwick/Tarnwick/KWinFrontWindow");

// KWin 5 names the active window a client, KWin 6 a window.
const char scriptTemplate[] = R"(const target = %1;
function report(window) {
    callDBus(target[0], target[1], target[2], "activeWindowChanged",
             window ? String(window.resourceClass) : "", window ? String(window.internalId) : "");
}
(workspace.windowActivated || workspace.clientActivated).connect(report);
report(workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient);
)";

} // namespace

KWinFrontWindow::KWinFrontWindow(QDBusConnection bus)
    : m_bus(std::move(bus))
    , m_script(QDir::temp().filePath(QStringLiteral("tarnwick-kwin-XXXXXX.js")))
{
    if (!m_bus.isConnected() || !m_bus.interface())
        return;
    m_kwinOwner = m_bus.interface()->serviceOwner(kwinService).value();
    if (m_kwinOwner.isEmpty()
        || !m_bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots))
        return;
    m_watching = loadScript();
    if (!m_watching)
        m_bus.unregisterObject(objectPath);
}

KWinFrontWindow::~KWinFrontWindow()
{
    if (!m_watching)
        return;
    m_bus.call(QDBusMessage::createMethodCall(kwinService, QStringLiteral("/Scripting"), scriptingInterface,
                   QStringLiteral("unloadScript"))
        << scriptPlugin);
    m_bus.unregisterObject(objectPath);
}

bool KWinFrontWindow::loadScript()
{
    const QJsonArray target {
        m_bus.baseService(), objectPath, QStringLiteral("org.tarnwick.Tarnwick.KWinFrontWindow")};
    const QByteArray text = QString::fromLatin1(scriptTemplate)
                                .arg(QString::fromUtf8(QJsonDocument(target).toJson(QJsonDocument::Compact)))
                                .toUtf8();
    if (!m_script.open() || m_script.write(text) != text.size() || !m_script.flush())
        return false;

    auto scripting = [this](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            kwinService, QStringLiteral("/Scripting"), scriptingInterface, method);
        message.setArguments(arguments);
        return m_bus.call(message);
    };
    // A run that ended abruptly left its script loaded under the same name, which blocks ours.
    scripting(QStringLiteral("unloadScript"), {scriptPlugin});
    const QDBusMessage loaded = scripting(QStringLiteral("loadScript"), {m_script.fileName(), scriptPlugin});
    if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().value(0).toInt() < 0)
        return false;
    const int id = loaded.arguments().value(0).toInt();
    // KWin 6 puts the script object under /Scripting, KWin 5 at the top.
    for (const QString &path :
        {QStringLiteral("/Scripting/Script%1").arg(id), QStringLiteral("/%1").arg(id)}) {
        const QDBusMessage ran = m_bus.call(QDBusMessage::createMethodCall(
            kwinService, path, QStringLiteral("org.kde.kwin.Script"), QStringLiteral("run")));
        if (ran.type() == QDBusMessage::ReplyMessage)
            return true;
    }
    scripting(QStringLiteral("unloadScript"), {scriptPlugin});
    return false;
}

FrontWindowInfo KWinFrontWindow::current() const
{
    return m_current;
}

void KWinFrontWindow::activeWindowChanged(const QString &resourceClass, const QString &internalId)
{
    if (!calledFromDBus() || message().service() != m_kwinOwner)
        return;
    // KWin's id of a window is a UUID; ours is a number, never 0 for a window.
    const quint64 id = internalId.isEmpty() ? 0 : (quint64(qHash(internalId)) | 1);
    m_current = {id, resourceClass};
    Q_EMIT reported();
}

} // namespace Platform::Kde
