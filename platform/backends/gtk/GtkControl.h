// A window's GTK side, one kind to a file as user32 keeps its controls. Window::native points
// to it; GtkBackend forwards each change to it.
#pragma once

#include "user32/WindowStore.h"

#include <gtk/gtk.h>

#include <string>

namespace velmora::platform {

struct GtkControl {
    HWND handle = nullptr;
    GtkWidget* widget = nullptr; // what sits in the parent (a top level's GtkWindow)

    virtual ~GtkControl() {
        if (widget)
            gtk_widget_destroy(widget);
    }
    // A top level's client area, which holds its children.
    virtual GtkWidget* Container() { return nullptr; }
    // What takes the keyboard focus when the window has it; null: nothing can.
    virtual GtkWidget* FocusWidget() { return nullptr; }
    virtual void TakeFocus() {
        if (GtkWidget* target = FocusWidget())
            gtk_widget_grab_focus(target);
    }
    virtual void SetText(const std::string&) {}
    virtual void SetTopMost(bool) {}
    virtual void SetChecked(bool) {}
    virtual void ListReset() {}
    virtual void ListAdd(const std::string&) {}
    virtual void ListSelect(int) {}
    virtual void ListRedraw(bool) {}
    virtual void Navigate(const std::string&) {}
};

GtkControl* NewTopLevel(Window& window);
GtkControl* NewButton(Window& window);
GtkControl* NewStatic(Window& window);
GtkControl* NewStatusBar(Window& window);
GtkControl* NewListBox(Window& window);
GtkControl* NewBrowserHost(Window& window);

// The window's GTK side; for no window, or one being taken down, a control that shows nothing.
inline GtkControl& ControlOf(const Window* window) {
    static GtkControl none;
    return window && window->native ? *static_cast<GtkControl*>(window->native) : none;
}

// Every browser host's paused videos paint their frames again (a message box covered them).
void RepaintPausedVideos();

// Keys (Keys.cpp). GTK's key events become user32's key messages; a key for a page is kept
// until its host hands it on (WM_FORWARDMSG), so WebKit gets GTK's own event.
UINT VirtualKey(guint keyval); // 0: a key the program's windows never see
void KeepKeyForPage(const GdkEventKey* event);
GdkEvent* KeptKey(const MSG& message); // null when the message came from no kept event
// The window a widget belongs to (a control's widget, or one inside it): null for none.
void MarkControlWidget(GtkControl& control);
HWND WindowHolding(GtkWidget* widget);

} // namespace velmora::platform
