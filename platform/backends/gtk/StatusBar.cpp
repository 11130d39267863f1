// The status bar: static text, centred in its height, under a line (kControlStyle).
#include "backends/gtk/GtkControl.h"

namespace velmora::platform {

GtkControl* NewStatusBar(Window& window) {
    GtkControl* bar = NewStatic(window);
    gtk_label_set_yalign(GTK_LABEL(bar->widget), 0.5);
    gtk_style_context_add_class(gtk_widget_get_style_context(bar->widget), "velmora-status");
    return bar;
}

} // namespace velmora::platform
