// A native GTK 3 window for tests under a Wayland compositor: one entry holding the text given as
// its argument, all of it selected whenever the window gets the keyboard focus. It prints "focus"
// when it gets the focus, "text:<text>" whenever the text changes and "clipboard" whenever the
// clipboard gets a new owner, and quits when its standard input closes, so that it never outlives
// the test.
#include <gtk/gtk.h>

#include <cstdio>

namespace {

void printLine(const char *prefix, const char *text)
{
    std::printf("%s%s\n", prefix, text);
    std::fflush(stdout);
}

void changed(GtkEditable *entry, gpointer)
{
    printLine("text:", gtk_entry_get_text(GTK_ENTRY(entry)));
}

gboolean focused(GtkWidget *, GdkEvent *, gpointer entry)
{
    gtk_editable_select_region(GTK_EDITABLE(entry), 0, -1);
    printLine("focus", "");
    return FALSE;
}

void clipboardOwnerChanged(GtkClipboard *, GdkEvent *, gpointer)
{
    printLine("clipboard", "");
}

gboolean inputClosed(GIOChannel *, GIOCondition, gpointer)
{
    gtk_main_quit();
    return FALSE;
}

} // namespace

int main(int argc, char **argv)
{
    gtk_init(&argc, &argv);
    GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWidget *entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), argc > 1 ? argv[1] : "");
    gtk_container_add(GTK_CONTAINER(window), entry);
    g_signal_connect(entry, "changed", G_CALLBACK(changed), nullptr);
    g_signal_connect(window, "focus-in-event", G_CALLBACK(focused), entry);
    g_signal_connect(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "owner-change",
        G_CALLBACK(clipboardOwnerChanged), nullptr);
    GIOChannel *input = g_io_channel_unix_new(0);
    g_io_add_watch(input, GIOCondition(G_IO_HUP | G_IO_ERR | G_IO_IN), inputClosed, nullptr);
    gtk_widget_show_all(window);
    gtk_main();
    g_io_channel_unref(input);
    return 0;
}
