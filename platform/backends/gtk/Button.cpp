// Push buttons and check boxes.
#include "backends/gtk/GtkControl.h"

namespace velmora::platform {
namespace {

struct Button final : GtkControl {
    bool updating = false; // a change made by user32, not by the user

    GtkWidget* FocusWidget() override { return widget; }
    void SetText(const std::string& utf8) override {
        gtk_button_set_label(GTK_BUTTON(widget), utf8.c_str());
    }
    void SetChecked(bool checked) override {
        updating = true;
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), checked);
        updating = false;
    }
};

void OnClicked(GtkButton*, gpointer data) {
    input::Click(static_cast<Button*>(data)->handle);
}

void OnToggled(GtkToggleButton* toggle, gpointer data) {
    auto* button = static_cast<Button*>(data);
    if (button->updating)
        return;
    // The check mark belongs to the control's procedure, which flips it on the click: GTK's
    // own flip is undone until the procedure says so (SetChecked).
    button->SetChecked(!gtk_toggle_button_get_active(toggle));
    input::Click(button->handle);
}

} // namespace

GtkControl* NewButton(Window& window) {
    auto* button = new Button;
    if (window.kind == ControlKind::CheckBox) {
        button->widget = gtk_check_button_new_with_label("");
        g_signal_connect(button->widget, "toggled", G_CALLBACK(OnToggled), button);
    } else {
        button->widget = gtk_button_new_with_label("");
        g_signal_connect(button->widget, "clicked", G_CALLBACK(OnClicked), button);
    }
    return button;
}

} // namespace velmora::platform
