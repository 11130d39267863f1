// Keys: GDK's key names as Windows' virtual keys, and the events kept for the page.
#include "backends/gtk/GtkControl.h"

#include <deque>
#include <utility>

namespace velmora::platform {
namespace {

const char kControlKey[] = "velmora-control";

// A key reaches its host within the same pass of the message loop; a few are kept in case
// several arrive at once.
const size_t kKeptEvents = 16;
std::deque<GdkEvent*> kept;

} // namespace

UINT VirtualKey(guint keyval) {
    // ISO_Left_Tab is Shift+Tab.
    static const std::pair<guint, UINT> named[] = {
        {GDK_KEY_Tab, VK_TAB},         {GDK_KEY_ISO_Left_Tab, VK_TAB},
        {GDK_KEY_KP_Tab, VK_TAB},      {GDK_KEY_Return, VK_RETURN},
        {GDK_KEY_KP_Enter, VK_RETURN}, {GDK_KEY_ISO_Enter, VK_RETURN},
        {GDK_KEY_space, VK_SPACE},     {GDK_KEY_KP_Space, VK_SPACE},
        {GDK_KEY_Escape, VK_ESCAPE},   {GDK_KEY_Shift_L, VK_SHIFT},
        {GDK_KEY_Shift_R, VK_SHIFT},   {GDK_KEY_Up, VK_UP},
        {GDK_KEY_KP_Up, VK_UP},        {GDK_KEY_Down, VK_DOWN},
        {GDK_KEY_KP_Down, VK_DOWN},    {GDK_KEY_Left, VK_LEFT},
        {GDK_KEY_KP_Left, VK_LEFT},    {GDK_KEY_Right, VK_RIGHT},
        {GDK_KEY_KP_Right, VK_RIGHT},  {GDK_KEY_Home, VK_HOME},
        {GDK_KEY_KP_Home, VK_HOME},    {GDK_KEY_End, VK_END},
        {GDK_KEY_KP_End, VK_END},
    };
    for (const auto& [gdkKey, virtualKey] : named)
        if (gdkKey == keyval)
            return virtualKey;
    guint upper = gdk_keyval_to_upper(keyval);
    if ((upper >= GDK_KEY_A && upper <= GDK_KEY_Z) || (upper >= GDK_KEY_0 && upper <= GDK_KEY_9))
        return upper; // letters and digits are their own virtual keys
    if (keyval >= GDK_KEY_F1 && keyval <= GDK_KEY_F12)
        return VK_F1 + (keyval - GDK_KEY_F1);
    return 0;
}

void KeepKeyForPage(const GdkEventKey* event) {
    if (kept.size() == kKeptEvents) {
        gdk_event_free(kept.front());
        kept.pop_front();
    }
    kept.push_back(gdk_event_copy((const GdkEvent*)event));
}

GdkEvent* KeptKey(const MSG& message) {
    for (GdkEvent* event : kept) {
        const GdkEventKey& key = event->key;
        UINT type = key.type == GDK_KEY_PRESS ? WM_KEYDOWN : WM_KEYUP;
        if (type == message.message && VirtualKey(key.keyval) == message.wParam &&
            key.time == message.time)
            return event;
    }
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
