// Measures the cost of turning shortcuts into text and of searching a menu for a shortcut.
#include "Measure.h"
#include "hotkeys/Key.h"
#include "hotkeys/Services.h"
#include "hotkeys/Shortcut.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/x11/XkbKeyboardLayout.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTextStream>

#include <memory>

using namespace Hotkeys;

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::unique_ptr<Platform::KeyboardLayout> layout;
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        layout = Platform::X11::XkbKeyboardLayout::create();
    const bool real = bool(layout);
    if (!layout)
        layout = std::make_unique<Platform::FakeKeyboardLayout>();
    Hotkeys::Services services;
    services.keyboardLayout = layout.get();
    Hotkeys::useServices(services);
    QTextStream(stdout) << "layout: " << (real ? "X server keymap (xkbcommon)" : "fake US table") << "\n";

    const auto keys = namedKeys();
    const ModifierFlags mods = ModifierFlags::command | ModifierFlags::shift;
    qsizetype total = 0;
    measure("presentableDescription, ordinary and special keys", 200000, [&](int i) {
        total += Shortcut(keys[size_t(i) % keys.size()].key, mods).presentableDescription().size();
    });
    measure("presentableDescription, Space (localised)", 200000,
        [&](int) { total += Shortcut(Key::space, ModifierFlags::control).presentableDescription().size(); });

    QMenu menu;
    for (int i = 0; i < 20; ++i) {
        QMenu *sub = menu.addMenu(QStringLiteral("Menu %1").arg(i));
        for (int j = 0; j < 10; ++j) {
            QAction *action = sub->addAction(QStringLiteral("Item %1").arg(j));
            action->setShortcut(
                QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key(Qt::Key_A + j))));
        }
    }
    measure("menuItemWithMatchingShortcut, 200 items, no match", 20000, [&](int) {
        total += Shortcut(Key::k, ModifierFlags::command).menuItemWithMatchingShortcut(&menu) ? 1 : 0;
    });
    QTextStream(stdout) << "(checksum " << total << ")\n";
    Hotkeys::useServices({});
    return 0;
}
