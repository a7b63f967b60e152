// A small front application for the X11 and Wayland tests: one window with a plain-text editor that a test
// drives through line commands on standard input, answering one line on standard output.
// Keystrokes reach it only through the X server, like any other application.
//
//   set <b64>              replace the text and select all of it
//   select <start> <end>   select a range (character positions)
//   text                   the text (base64)
//   focus                  "1" when the window is active and the editor has the focus
//   activate               raise and activate the window
//   keys | clearkeys       the key presses received ("Ctrl+C,Ctrl+Shift+C"), or forget them
//   pastedelay <ms>        paste that long after the paste keystroke, as a slow application does
//   clip <type>=<b64> ...  take the clipboard with these formats
//   primary <b64>          take the primary selection with this text, as terminals do on selecting
//   watch <b64>            answer "changed <µs>" (steady clock) once the text equals this one
//   quit
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSocketNotifier>
#include <QTextCursor>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

QByteArray b64(const QString &text)
{
    return text.toUtf8().toBase64();
}

QString fromB64(const QByteArray &data)
{
    return QString::fromUtf8(QByteArray::fromBase64(data));
}

class Target : public QObject {
public:
    Target()
    {
        m_edit.setWindowTitle(QStringLiteral("Tarnwick test target"));
        m_edit.resize(420, 160);
        m_edit.move(80, 80);
        m_edit.installEventFilter(this);
        m_edit.show();
        m_edit.raise();
        m_edit.activateWindow();
        m_edit.setFocus();

        connect(&m_edit, &QPlainTextEdit::textChanged, this, [this] { checkWatch(); });
        m_stdin = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_stdin, &QSocketNotifier::activated, this, [this] { readInput(); });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_edit && event->type() == QEvent::KeyPress) {
            auto *key = static_cast<QKeyEvent *>(event);
            const int code = key->key();
            const bool modifierOnly = code == Qt::Key_Control || code == Qt::Key_Shift || code == Qt::Key_Alt
                || code == Qt::Key_Meta || code == Qt::Key_Super_L || code == Qt::Key_Super_R;
            if (!modifierOnly) {
                m_keys << QKeySequence(key->keyCombination()).toString(QKeySequence::PortableText);
            }
            if (key->matches(QKeySequence::Paste)) {
                if (m_pasteDelay > 0) {
                    QTimer::singleShot(m_pasteDelay, &m_edit, &QPlainTextEdit::paste);
                } else {
                    m_edit.paste();
                }
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void checkWatch()
    {
        if (!m_watched || m_edit.toPlainText() != *m_watched)
            return;
        m_watched.reset();
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        reply("changed "
            + QByteArray::number(qint64(std::chrono::duration_cast<std::chrono::microseconds>(now).count())));
    }

    void reply(const QByteArray &line)
    {
        const QByteArray out = line + '\n';
        fwrite(out.constData(), 1, size_t(out.size()), stdout);
        fflush(stdout);
    }

    void readInput()
    {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            m_stdin->setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        m_pending.append(buffer, n);
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            handle(line.split(' '));
        }
    }

    void handle(const QList<QByteArray> &words)
    {
        const QByteArray command = words.value(0);
        if (command == "set") {
            m_edit.setPlainText(fromB64(words.value(1)));
            m_edit.selectAll();
            reply("ok");
        } else if (command == "select") {
            QTextCursor cursor = m_edit.textCursor();
            cursor.setPosition(words.value(1).toInt());
            cursor.setPosition(words.value(2).toInt(), QTextCursor::KeepAnchor);
            m_edit.setTextCursor(cursor);
            reply("ok");
        } else if (command == "text") {
            reply("text " + b64(m_edit.toPlainText()));
        } else if (command == "focus") {
            reply(m_edit.isActiveWindow() && m_edit.hasFocus() ? "focus 1" : "focus 0");
        } else if (command == "activate") {
            m_edit.raise();
            m_edit.activateWindow();
            m_edit.setFocus();
            reply("ok");
        } else if (command == "keys") {
            reply("keys " + m_keys.join(QLatin1Char(',')).toUtf8());
        } else if (command == "clearkeys") {
            m_keys.clear();
            reply("ok");
        } else if (command == "pastedelay") {
            m_pasteDelay = words.value(1).toInt();
            reply("ok");
        } else if (command == "clip") {
            auto *mime = new QMimeData;
            for (qsizetype i = 1; i < words.size(); ++i) {
                const qsizetype eq = words.at(i).indexOf('=');
                mime->setData(
                    QString::fromUtf8(words.at(i).left(eq)), QByteArray::fromBase64(words.at(i).mid(eq + 1)));
            }
            QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Clipboard);
            reply("ok");
        } else if (command == "primary") {
            QGuiApplication::clipboard()->setText(fromB64(words.value(1)), QClipboard::Selection);
            reply("ok");
        } else if (command == "watch") {
            m_watched = fromB64(words.value(1));
            checkWatch();
        } else if (command == "quit") {
            reply("ok");
            QCoreApplication::quit();
        } else {
            reply("error unknown command");
        }
    }

    QPlainTextEdit m_edit;
    QSocketNotifier *m_stdin = nullptr;
    QByteArray m_pending;
    QStringList m_keys;
    int m_pasteDelay = 0;
    std::optional<QString> m_watched;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // On Wayland the desktop file name is the window's app id (tests pose as a terminal with it).
    if (qEnvironmentVariableIsSet("TARNWICK_TARGET_APP_ID"))
        QGuiApplication::setDesktopFileName(qEnvironmentVariable("TARNWICK_TARGET_APP_ID"));
    Target target;
    printf("ready\n");
    fflush(stdout);
    return app.exec();
}
