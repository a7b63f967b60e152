// Cost of dispatching one hot-key press with 50 named shortcuts attached. Dispatch reads every
// name's stored shortcut from the settings store on each press, so the store's read cost counts.
//
// Usage: bench_hotkeys [presses]   (default 20000)

#include "hotkeys/Hotkeys.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/qt/SettingsUserDefaults.h"
#include "platform/fake/FakeHotKeyService.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr int nameCount = 50;

struct Result {
    double microsecondsPerPress = 0;
    int actionsRun = 0;
};

Result measure(Platform::UserDefaults &defaults, const Platform::KeyboardLayout &layout, int presses)
{
    Hotkeys::resetForTesting();
    Platform::FakeHotKeyService service;
    Hotkeys::Services services;
    services.userDefaults = &defaults;
    services.hotKeyService = &service;
    services.keyboardLayout = &layout;
    Hotkeys::useServices(services);

    int ran = 0;
    QList<Hotkeys::Name> names;
    for (int i = 0; i < nameCount; ++i) {
        // Distinct shortcuts: letters and digits with Command+Shift, then Command+Option.
        const qint64 keyCode = i % 25;
        const qint64 modifiers = i < 25 ? 0x300 : 0x900;
        names.append(Hotkeys::Name(QStringLiteral("name%1").arg(i), Hotkeys::Shortcut(keyCode, modifiers)));
        Hotkeys::onKeyDown(names.last(), [&ran] { ++ran; });
        Hotkeys::onKeyUp(names.last(), [] {});
    }
    const quint32 id = service.registrations().lastKey();

    // Warm up, then take the best of five rounds (the machine is shared).
    for (int i = 0; i < presses / 10; ++i)
        service.press(id);
    double best = 1e18;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < presses; ++i)
            service.press(id);
        best = std::min(best, double(timer.nsecsElapsed()) / 1000.0 / presses);
    }
    Hotkeys::resetForTesting();
    Hotkeys::useServices({});
    return {best, ran};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 20000;
    const Platform::FakeKeyboardLayout layout;
    QTextStream out(stdout);

    Platform::MemoryUserDefaults memory;
    const Result inMemory = measure(memory, layout, presses);
    out << "dispatch of one press, " << nameCount
        << " names, in-memory settings: " << QString::number(inMemory.microsecondsPerPress, 'f', 2)
        << " us/press\n";

    QTemporaryDir dir;
    Platform::SettingsUserDefaults file(dir.filePath(QStringLiteral("settings.json")));
    const Result onFile = measure(file, layout, presses);
    out << "dispatch of one press, " << nameCount
        << " names, settings file (QSettings, JSON): " << QString::number(onFile.microsecondsPerPress, 'f', 2)
        << " us/press\n";

    // Each press must have run exactly the one action of the pressed name.
    const int expected = presses / 10 + 5 * presses;
    if (inMemory.actionsRun != expected || onFile.actionsRun != expected) {
        out << "wrong dispatch: " << inMemory.actionsRun << " and " << onFile.actionsRun
            << " actions, expected " << expected << "\n";
        return 1;
    }
    return 0;
}
