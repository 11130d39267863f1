#include "backends/gtk/GtkBackend.h"

#include <stdio.h>

#include <utility>

namespace velmora::platform {
namespace {

// Windows draws its controls exactly at the size asked for. GTK themes give buttons and
// check boxes minimum sizes and paddings that would grow them, so these are taken away,
// and the text uses the small dialog font size Windows uses.
const char kControlStyle[] = R"css(
.velmora-client * { font-size: 9pt; }
.velmora-client button { min-height: 0; min-width: 0; padding: 0 4px; }
.velmora-client checkbutton { min-height: 0; padding: 0; }
.velmora-client check { min-width: 13px; min-height: 13px; margin: 0 4px 0 0; }
.velmora-client scrolledwindow, .velmora-client treeview { min-height: 0; min-width: 0; }
.velmora-status { border-top: 1px solid alpha(currentColor, 0.2); padding: 0 4px; }
)css";

// Windows shows a message box's icon at 32x32, left of the text, which then starts at the
// left too (GTK centres it). The theme's full-colour icon, or its symbolic one where the
// theme has no other.
void AddInformationIcon(GtkMessageDialog* dialog) {
    GtkWidget* text = gtk_message_dialog_get_message_area(dialog);
    GtkWidget* row = gtk_widget_get_parent(text);
    if (!GTK_IS_BOX(row))
        return;
    const char* names[] = {"dialog-information", "dialog-information-symbolic"};
    g_autoptr(GIcon) icon =
        g_themed_icon_new_from_names(const_cast<char**>(names), G_N_ELEMENTS(names));
    GtkWidget* image = gtk_image_new_from_gicon(icon, GTK_ICON_SIZE_DIALOG);
    gtk_image_set_pixel_size(GTK_IMAGE(image), 32);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(row), image, 0);
    gtk_widget_set_valign(text, GTK_ALIGN_CENTER);
    g_autoptr(GList) labels = gtk_container_get_children(GTK_CONTAINER(text));
    for (GList* label = labels; label; label = label->next) {
        gtk_widget_set_halign(GTK_WIDGET(label->data), GTK_ALIGN_START);
        gtk_label_set_xalign(GTK_LABEL(label->data), 0);
    }
}

GtkControl* NewControl(Window& window) {
    switch (window.kind) {
    case ControlKind::TopLevel:
        return NewTopLevel(window);
    case ControlKind::ListBox:
        return NewListBox(window);
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
        return NewButton(window);
    case ControlKind::Static:
        return NewStatic(window);
    case ControlKind::StatusBar:
        return NewStatusBar(window);
    case ControlKind::Browser:
        return NewBrowserHost(window);
    default:
        auto* area = new GtkControl;
        area->widget = gtk_drawing_area_new();
        return area;
    }
}

void OnMessageBoxDestroyed(GtkWidget*, gpointer data) {
    static_cast<MessageBoxState*>(data)->native = nullptr;
    // A paused video stays blank where the box covered it. A box without an owner can
    // cover any window, so every one is mended.
    RepaintPausedVideos();
}

} // namespace

bool GtkBackend::Start(int* argc, char*** argv, std::string& error) {
    // One id names the program to the desktop: the Wayland application id and the X11
    // WM_CLASS match the desktop entry's file name, and WebKit names its media controls
    // (MPRIS) after the id and the application name.
    g_set_prgname(VELMORA_APP_ID);
    g_set_application_name(VELMORA_APP_NAME);
    // X11 wherever an X server answers (Xwayland included), as only there can the window be
    // kept on top; Wayland only without one. A DISPLAY that cannot be opened falls through
    // to Wayland.
    gdk_set_allowed_backends("x11,wayland");
    // Parsing the options gives the class a capitalised copy of the program name; the id
    // replaces it before the display (and its first window) opens.
    bool started = gtk_parse_args(argc, argv);
    gdk_set_program_class(VELMORA_APP_ID);
    if (!started || !gtk_init_check(argc, argv)) {
        const char* display = g_getenv("DISPLAY");
        error = std::string("cannot open display '") + (display ? display : "") +
                "' (is a desktop session or Xvfb running?)";
        return false;
    }
    g_autoptr(GtkCssProvider) provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kControlStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                              GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    return true;
}

void GtkBackend::Create(Window& window) {
    GtkControl* control = NewControl(window);
    control->handle = window.handle;
    window.native = control;
    MarkControlWidget(*control);
    GtkWidget* container = ControlOf(FindWindowRecord(window.parent)).Container();
    if (window.kind != ControlKind::TopLevel)
        gtk_widget_set_size_request(control->widget, window.width, window.height);
    EnabledChanged(window);
    control->SetText(WideToUtf8(window.text));
    if (container)
        gtk_layout_put(GTK_LAYOUT(container), control->widget, window.x, window.y);
}

void GtkBackend::Destroy(Window& window) {
    delete static_cast<GtkControl*>(std::exchange(window.native, nullptr));
}

void GtkBackend::Show(Window& window, bool visible) {
    if (GtkWidget* widget = ControlOf(&window).widget)
        gtk_widget_set_visible(widget, visible);
}

void GtkBackend::EnabledChanged(Window& window) {
    // A disabled top-level window looks unchanged on Windows (user32 drops its input); a
    // disabled control is greyed.
    GtkWidget* widget = ControlOf(&window).widget;
    if (widget && window.kind != ControlKind::TopLevel)
        gtk_widget_set_sensitive(widget, window.enabled());
}

void GtkBackend::Invalidate(Window& window, const RECT* area) {
    GtkControl& control = ControlOf(&window);
    GtkWidget* widget = control.Container() ? control.Container() : control.widget;
    if (!widget)
        return;
    if (area)
        gtk_widget_queue_draw_area(widget, area->left, area->top, area->right - area->left,
                                   area->bottom - area->top);
    else
        gtk_widget_queue_draw(widget);
}

void GtkBackend::FocusChanged(Window* window) {
    GtkControl& control = ControlOf(window);
    if (GtkWidget* target = control.FocusWidget()) {
        control.TakeFocus();
        // Windows always shows where the keys go; GTK only once its own keys moved the focus.
        GtkWidget* top = gtk_widget_get_toplevel(target);
        if (GTK_IS_WINDOW(top))
            gtk_window_set_focus_visible(GTK_WINDOW(top), TRUE);
        return;
    }
    for (Window* top : TopLevelWindows())
        if (GtkWidget* widget = ControlOf(top).widget)
            gtk_window_set_focus(GTK_WINDOW(widget), nullptr);
}

bool GtkBackend::ForwardKeyToPage(Window& host, const MSG& key) {
    GtkWidget* view = ControlOf(&host).FocusWidget();
    GdkEvent* event = KeptKey(key);
    // WebKit answers for a key it passes to its page; one the page leaves comes back to the
    // window as a new event, which the page then declines here.
    return view && event && gtk_widget_event(view, event);
}

void GtkBackend::ShowMessageBox(MessageBoxState& box) {
    const MessageBoxRequest& request = box.request;
    Window* top = FindWindowRecord(request.owner);
    while (top && top->parent)
        top = FindWindowRecord(top->parent);
    GtkWindow* owner = GTK_WINDOW(ControlOf(top).widget);
    // The boxes the program shows: information, with OK or with Yes and No.
    const bool yesNo = (request.style & MB_TYPEMASK) == MB_YESNO;
    GtkWidget* dialog = gtk_message_dialog_new(
        owner, owner ? GTK_DIALOG_MODAL : GtkDialogFlags(0), GTK_MESSAGE_INFO,
        yesNo ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s", request.text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), request.caption.c_str());
    if ((request.style & MB_ICONMASK) == MB_ICONINFORMATION)
        AddInformationIcon(GTK_MESSAGE_DIALOG(dialog));
    gtk_window_set_position(GTK_WINDOW(dialog),
                            owner ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    if (request.style & MB_TOPMOST)
        gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    // A yes/no box cannot be cancelled: no close box, and Esc does nothing.
    if (yesNo)
        gtk_window_set_deletable(GTK_WINDOW(dialog), FALSE);
    // The first button (Yes, or OK) is the default, as on Windows; GTK would focus the last.
    int first = yesNo ? GTK_RESPONSE_YES : GTK_RESPONSE_OK;
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), first);
    if (GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), first))
        gtk_widget_grab_focus(button);

    g_signal_connect(
        dialog, "response", G_CALLBACK(+[](GtkDialog* dialog, int id, gpointer data) {
            auto& box = *static_cast<MessageBoxState*>(data);
            const bool yesOrNo = id == GTK_RESPONSE_YES || id == GTK_RESPONSE_NO;
            // Anything else is OK, or a close with Esc or the close box: a yes/no
            // box cannot be closed.
            if (!yesOrNo && (box.request.style & MB_TYPEMASK) == MB_YESNO)
                return;
            box.answer = id == GTK_RESPONSE_YES ? IDYES : id == GTK_RESPONSE_NO ? IDNO : IDOK;
            gtk_widget_destroy(GTK_WIDGET(dialog));
        }),
        &box);
    // GtkDialog destroys itself after a close request; the answer decides that here.
    g_signal_connect(dialog, "delete-event", G_CALLBACK(gtk_true), nullptr);
    g_signal_connect(dialog, "destroy", G_CALLBACK(OnMessageBoxDestroyed), &box);
    box.native = dialog;
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
}

void GtkBackend::HideMessageBox(MessageBoxState& box) {
    if (box.native)
        gtk_widget_destroy(GTK_WIDGET(box.native)); // clears box.native
}

bool GtkBackend::OpenInBrowser(HWND, const std::string& url) {
    // A second wall behind the program's own: only web addresses reach the desktop's handler,
    // which would open a file or run a program for others.
    if (g_ascii_strncasecmp(url.c_str(), "http://", 7) != 0 &&
        g_ascii_strncasecmp(url.c_str(), "https://", 8) != 0) {
        fprintf(stderr, "velmora-player: not opening %s: not a web address\n", url.c_str());
        return false;
    }
    g_autoptr(GError) error = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
        fprintf(stderr, "velmora-player: cannot open %s: %s\n", url.c_str(),
                error ? error->message : "no handler");
        return false;
    }
    return true;
}

bool GtkBackend::WaitForInput() {
    if (TopLevelWindows().empty())
        return false; // nothing left that could give input
    g_main_context_iteration(nullptr, TRUE);
    return true;
}

} // namespace velmora::platform
