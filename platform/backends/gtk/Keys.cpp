// Keys: GDK's key names as Windows' virtual keys, and the events kept for the page.
#include "backends/gtk/GtkControl.h"

#include <deque>

namespace velmora::platform {
namespace {

const char kControlKey[] = "velmora-control";

struct KeptEvent {
    UINT message;
    UINT key;
    DWORD time;
    GdkEvent* event;
};

// A key reaches its host within the same pass of the message loop; a few are kept in case
// several arrive at once.
const size_t kKeptEvents = 16;
std::deque<KeptEvent>& Kept() {
    static std::deque<KeptEvent> kept;
    return kept;
}

} // namespace

UINT VirtualKey(guint keyval) {
    switch (keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab: // Shift+Tab
    case GDK_KEY_KP_Tab:
        return VK_TAB;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter:
        return VK_RETURN;
    case GDK_KEY_space:
    case GDK_KEY_KP_Space:
        return VK_SPACE;
    case GDK_KEY_Escape:
        return VK_ESCAPE;
    case GDK_KEY_Shift_L:
    case GDK_KEY_Shift_R:
        return VK_SHIFT;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up:
        return VK_UP;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down:
        return VK_DOWN;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left:
        return VK_LEFT;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right:
        return VK_RIGHT;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home:
        return VK_HOME;
    case GDK_KEY_End:
    case GDK_KEY_KP_End:
        return VK_END;
    default:
        break;
    }
    guint upper = gdk_keyval_to_upper(keyval);
    if ((upper >= GDK_KEY_A && upper <= GDK_KEY_Z) || (upper >= GDK_KEY_0 && upper <= GDK_KEY_9))
        return upper; // letters and digits are their own virtual keys
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12)
        return VK_F1 + (keyval - GDK_KEY_F1);
    return 0;
}

void KeepKeyForPage(const GdkEventKey* event, UINT key) {
    auto& kept = Kept();
    if (kept.size() == kKeptEvents) {
        gdk_event_free(kept.front().event);
        kept.pop_front();
    }
    UINT message = event->type == GDK_KEY_PRESS ? WM_KEYDOWN : WM_KEYUP;
    kept.push_back({message, key, event->time, gdk_event_copy((const GdkEvent*)event)});
}

GdkEvent* KeptKey(const MSG& message) {
    for (const KeptEvent& entry : Kept())
        if (entry.message == message.message && entry.key == message.wParam &&
            entry.time == message.time)
            return entry.event;
    return nullptr;
}

void MarkControlWidget(GtkControl& control) {
    g_object_set_data(G_OBJECT(control.widget), kControlKey, &control);
}

HWND WindowHolding(GtkWidget* widget) {
    for (; widget; widget = gtk_widget_get_parent(widget))
        if (auto* control =
                static_cast<GtkControl*>(g_object_get_data(G_OBJECT(widget), kControlKey)))
            return control->handle;
    return nullptr;
}

} // namespace velmora::platform
