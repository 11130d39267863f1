// A top-level window: a fixed-size GtkWindow whose client area is a GtkLayout. Unlike
// GtkFixed it gives each child its requested size, not its natural one, so a web view cannot
// stretch the window.
#include "backends/gtk/GtkControl.h"

#include "user32/Resources.h"

#include <gdk/gdkx.h>

#include <stdio.h>

namespace velmora::platform {
namespace {

struct TopLevel final : GtkControl {
    GtkWidget* client = nullptr;

    GtkWidget* Container() override { return client; }
    void SetText(const std::string& utf8) override {
        gtk_window_set_title(GTK_WINDOW(widget), utf8.c_str());
    }
    // Only an X server lets a program keep its window above the others: Wayland has no
    // request for it, and gtk_window_set_keep_above does nothing there. The user learns why once.
    void SetTopMost(bool above) override {
        gtk_window_set_keep_above(GTK_WINDOW(widget), above);
        static bool told = false;
        if (above && !told && !GDK_IS_X11_DISPLAY(gtk_widget_get_display(widget))) {
            told = true;
            fprintf(stderr, "velmora-player: cannot keep the window on top: Wayland lets no "
                            "program pin its window (under X11 or Xwayland it can)\n");
        }
    }
};

void SetIcon(GtkWindow* window, HICON icon) {
    IconResource resource = FindIconResource(IconResourceId(icon));
    g_autoptr(GdkPixbufLoader) loader =
        resource.data ? gdk_pixbuf_loader_new_with_type("ico", nullptr) : nullptr;
    if (!loader || !gdk_pixbuf_loader_write(loader, resource.data, resource.size, nullptr) ||
        !gdk_pixbuf_loader_close(loader, nullptr))
        return;
    if (GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader))
        gtk_window_set_icon(window, pixbuf);
}

// The close box goes through the window procedure (WM_CLOSE); the window is destroyed only if
// the program lets it. So does another X client destroying the window, which Windows never
// allows: left to GTK, the window would be gone but the program would never hear of it.
gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    input::Close(static_cast<TopLevel*>(data)->handle);
    return TRUE;
}

// The window's keys are user32's: they reach the program's message loop as key messages for
// the focus window, and a page gets its own from its host. GTK keeps the others (a key no
// window of the program knows).
gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    UINT key = VirtualKey(event->keyval);
    if (!key)
        return FALSE;
    KeepKeyForPage(event);
    input::Key(static_cast<TopLevel*>(data)->handle, key, event->type == GDK_KEY_PRESS,
               event->time);
    return TRUE;
}

// A click put the focus in a control: user32 hears of it as Windows' controls take the
// focus on a click.
void OnFocusSet(GtkWindow*, GtkWidget* widget, gpointer data) {
    HWND owner = WindowHolding(widget);
    if (owner && owner != GetFocus() && owner != static_cast<TopLevel*>(data)->handle)
        input::Focus(owner);
}

} // namespace

GtkControl* NewTopLevel(Window& window) {
    auto* top = new TopLevel;
    top->widget = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* gtkWindow = GTK_WINDOW(top->widget);
    int width, height;
    ClientSize(window, width, height);
    top->client = gtk_layout_new(nullptr, nullptr);
    gtk_widget_set_size_request(top->client, width, height);
    gtk_style_context_add_class(gtk_widget_get_style_context(top->client), "velmora-client");
    gtk_container_add(GTK_CONTAINER(top->widget), top->client);
    gtk_widget_show(top->client);
    gtk_window_set_resizable(gtkWindow, (window.style & WS_THICKFRAME) != 0);
    top->SetTopMost(window.topMost());
    if (window.windowClass)
        SetIcon(gtkWindow, window.windowClass->icon);
    g_signal_connect(top->widget, "delete-event", G_CALLBACK(OnDelete), top);
    g_signal_connect(top->widget, "destroy-event", G_CALLBACK(OnDelete), top);
    g_signal_connect(top->widget, "key-press-event", G_CALLBACK(OnKey), top);
    g_signal_connect(top->widget, "key-release-event", G_CALLBACK(OnKey), top);
    // GTK moves the focus itself as the window first shows (Windows does not) and when a page
    // passes on from its last (or first) link. The page also leaves that Tab unused, and the
    // dialog keys move the focus on: user32 alone moves it.
    g_signal_connect(top->widget, "focus", G_CALLBACK(gtk_true), nullptr);
    g_signal_connect(top->widget, "set-focus", G_CALLBACK(OnFocusSet), top);
    // WS_CAPTION | WS_SYSMENU without WS_MINIMIZEBOX, WS_MAXIMIZEBOX or WS_THICKFRAME. The
    // window manager reads the allowed functions when the window is mapped, so they must be on
    // the X window before it is first shown.
    gtk_widget_realize(top->widget);
    GdkWindow* frame = gtk_widget_get_window(top->widget);
    gdk_window_set_functions(frame, (GdkWMFunction)(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
    gdk_window_set_decorations(
        frame, (GdkWMDecoration)(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
    return top;
}

} // namespace velmora::platform
