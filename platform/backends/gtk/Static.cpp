// Static text: one line, cut with an ellipsis where it does not fit.
#include "backends/gtk/GtkControl.h"

namespace velmora::platform {
namespace {

struct Static final : GtkControl {
    void SetText(const std::string& utf8) override {
        gtk_label_set_text(GTK_LABEL(widget), utf8.c_str());
    }
};

} // namespace

GtkControl* NewStatic(Window&) {
    auto* text = new Static;
    text->widget = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(text->widget), 0);
    gtk_label_set_yalign(GTK_LABEL(text->widget), 0);
    gtk_label_set_ellipsize(GTK_LABEL(text->widget), PANGO_ELLIPSIZE_END);
    return text;
}

} // namespace velmora::platform
