#include "backends/gtk/GtkBackend.h"

#include "backends/gtk/BrowserView.h"

#include "user32/Resources.h"
#include "user32/WindowStore.h"

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <stdio.h>

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

struct Native {
    GtkWidget* widget = nullptr; // what sits in the parent (or the GtkWindow)
    // Top-level: the GtkLayout holding the children. Unlike GtkFixed it gives each child
    // its requested size, not its natural one, so a web view cannot stretch the window.
    GtkWidget* container = nullptr;
    GtkWidget* label = nullptr;    // static text and status bar
    GtkTreeView* view = nullptr;   // list box
    GtkListStore* store = nullptr; // list box rows
    int selection = -1;            // list box: the selected row, -1 for none
    bool storeDetached = false;    // rows are being added with redraw off
    bool updating = false;         // a change made by user32, not by the user
};

Native* NativeOf(Window& window) {
    return static_cast<Native*>(window.native);
}

Native* NativeOf(HWND handle) {
    Window* window = FindWindowRecord(handle);
    return window ? NativeOf(*window) : nullptr;
}

HWND HandleOf(gpointer data) {
    return static_cast<HWND>(data);
}

GdkPixbuf* LoadIcon(HICON icon) {
    IconResource resource = FindIconResource(IconResourceId(icon));
    if (!resource.data)
        return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("ico", nullptr);
    if (!loader)
        return nullptr;
    GdkPixbuf* pixbuf = nullptr;
    if (gdk_pixbuf_loader_write(loader, resource.data, resource.size, nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf)
            g_object_ref(pixbuf);
    }
    g_object_unref(loader);
    return pixbuf;
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    // The close box goes through the window procedure (WM_CLOSE); the window is destroyed
    // only if the program lets it.
    input::Close(HandleOf(data));
    return TRUE;
}

// Only an X server lets a program keep its window above the others: Wayland has no request
// for it, and gtk_window_set_keep_above does nothing there. The user learns why once.
void KeepAbove(GtkWindow* window, bool above) {
    gtk_window_set_keep_above(window, above);
    static bool told = false;
    if (above && !told && !GDK_IS_X11_DISPLAY(gtk_widget_get_display(GTK_WIDGET(window)))) {
        told = true;
        fprintf(stderr, "velmora-player: cannot keep the window on top: Wayland lets no "
                        "program pin its window (under X11 or Xwayland it can)\n");
    }
}

void RestrictFrame(GtkWidget* widget) {
    // WS_CAPTION | WS_SYSMENU without WS_MINIMIZEBOX, WS_MAXIMIZEBOX or WS_THICKFRAME.
    GdkWindow* window = gtk_widget_get_window(widget);
    gdk_window_set_functions(window, (GdkWMFunction)(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
    gdk_window_set_decorations(
        window, (GdkWMDecoration)(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

void OnButtonClicked(GtkButton*, gpointer data) {
    input::Click(HandleOf(data));
}

void OnCheckToggled(GtkToggleButton* toggle, gpointer data) {
    Native* native = NativeOf(HandleOf(data));
    if (!native || native->updating)
        return;
    // The check mark belongs to the control's procedure, which flips it on the click: GTK's
    // own flip is undone until the procedure says so (CheckChanged).
    native->updating = true;
    gtk_toggle_button_set_active(toggle, !gtk_toggle_button_get_active(toggle));
    native->updating = false;
    input::Click(HandleOf(data));
}

int RowOf(GtkTreePath* path) {
    int depth = 0;
    int* indices = gtk_tree_path_get_indices_with_depth(path, &depth);
    return depth > 0 ? indices[0] : -1;
}

// A double-click, and only a double-click, is LBN_DBLCLK: unlike GtkTreeView's
// row-activated, Enter and Space do nothing in a Windows list box. A double-click below
// the last row keeps the selection, as on Windows.
gboolean OnListButtonPress(GtkWidget* view, GdkEventButton* event, gpointer data) {
    if (event->type != GDK_2BUTTON_PRESS || event->button != 1)
        return FALSE;
    int row = -1;
    GtkTreePath* path = nullptr;
    if (gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(view), (int)event->x, (int)event->y, &path,
                                      nullptr, nullptr, nullptr)) {
        row = RowOf(path);
        gtk_tree_path_free(path);
    }
    input::ListDoubleClick(HandleOf(data), row);
    return FALSE;
}

void OnSelectionChanged(GtkTreeSelection* selection, gpointer data) {
    Native* native = NativeOf(HandleOf(data));
    if (!native || native->updating)
        return;
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (!gtk_tree_selection_get_selected(selection, &model, &iter))
        return;
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    input::ListSelect(HandleOf(data), RowOf(path));
    gtk_tree_path_free(path);
}

void ApplySelection(Native& native) {
    if (native.storeDetached)
        return; // applied when the rows are shown again
    native.updating = true;
    GtkTreeSelection* selection = gtk_tree_view_get_selection(native.view);
    if (native.selection >= 0) {
        GtkTreePath* path = gtk_tree_path_new_from_indices(native.selection, -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_view_scroll_to_cell(native.view, path, nullptr, FALSE, 0, 0);
        gtk_tree_path_free(path);
    } else {
        gtk_tree_selection_unselect_all(selection);
    }
    native.updating = false;
}

GtkWidget* MakeListBox(Window& window, Native& native) {
    native.store = gtk_list_store_new(1, G_TYPE_STRING);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(native.store));
    native.view = GTK_TREE_VIEW(view);
    gtk_tree_view_set_headers_visible(native.view, FALSE);
    gtk_tree_view_set_enable_search(native.view, FALSE);
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, nullptr);
    GtkTreeViewColumn* column =
        gtk_tree_view_column_new_with_attributes("", renderer, "text", 0, nullptr);
    // Fixed-height rows keep thousands of rows as cheap as a handful.
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_append_column(native.view, column);
    gtk_tree_view_set_fixed_height_mode(native.view, TRUE);
    g_signal_connect(view, "button-press-event", G_CALLBACK(OnListButtonPress), window.handle);
    g_signal_connect(gtk_tree_view_get_selection(native.view), "changed",
                     G_CALLBACK(OnSelectionChanged), window.handle);

    GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                   (window.style & WS_VSCROLL) ? GTK_POLICY_ALWAYS
                                                               : GTK_POLICY_NEVER);
    gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller), FALSE);
    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    gtk_widget_show(view);
    return scroller;
}

GtkWidget* ParentContainer(Window& window) {
    Window* parent = FindWindowRecord(window.parent);
    Native* native = parent ? NativeOf(*parent) : nullptr;
    return native ? native->container : nullptr;
}

void ApplyText(Window& window, Native& native) {
    std::string text = WideToUtf8(window.text);
    switch (window.kind) {
    case ControlKind::TopLevel:
        gtk_window_set_title(GTK_WINDOW(native.widget), text.c_str());
        break;
    case ControlKind::PushButton:
    case ControlKind::CheckBox:
        gtk_button_set_label(GTK_BUTTON(native.widget), text.c_str());
        break;
    case ControlKind::Static:
    case ControlKind::StatusBar:
        gtk_label_set_text(GTK_LABEL(native.label), text.c_str());
        break;
    default:
        break; // a browser host's text is the address it was created with
    }
}

// Windows shows a message box's icon at 32x32, left of the text, which then starts at the
// left too (GTK centres it). The theme's full-colour icon, or its symbolic one where the
// theme has no other.
void AddInformationIcon(GtkMessageDialog* dialog) {
    GtkWidget* text = gtk_message_dialog_get_message_area(dialog);
    GtkWidget* row = gtk_widget_get_parent(text);
    if (!GTK_IS_BOX(row))
        return;
    const char* names[] = {"dialog-information", "dialog-information-symbolic"};
    GIcon* icon = g_themed_icon_new_from_names(const_cast<char**>(names), G_N_ELEMENTS(names));
    GtkWidget* image = gtk_image_new_from_gicon(icon, GTK_ICON_SIZE_DIALOG);
    g_object_unref(icon);
    gtk_image_set_pixel_size(GTK_IMAGE(image), 32);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
    gtk_box_reorder_child(GTK_BOX(row), image, 0);
    gtk_widget_set_valign(text, GTK_ALIGN_CENTER);
    GList* labels = gtk_container_get_children(GTK_CONTAINER(text));
    for (GList* label = labels; label; label = label->next) {
        gtk_widget_set_halign(GTK_WIDGET(label->data), GTK_ALIGN_START);
        gtk_label_set_xalign(GTK_LABEL(label->data), 0);
    }
    g_list_free(labels);
}

void RepaintPausedVideosIn(const Window& window) {
    for (HWND handle : window.children) {
        Window* child = FindWindowRecord(handle);
        if (!child)
            continue;
        if (child->kind == ControlKind::Browser && NativeOf(*child))
            RepaintPausedVideos(NativeOf(*child)->widget);
        RepaintPausedVideosIn(*child);
    }
}

void OnMessageBoxDestroyed(GtkWidget*, gpointer data) {
    static_cast<MessageBoxState*>(data)->native = nullptr;
    // A paused video stays blank where the box covered it. A box without an owner can
    // cover any window, so every one is mended.
    for (Window* top : TopLevelWindows())
        RepaintPausedVideosIn(*top);
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
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kControlStyle, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                              GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
    return true;
}

void GtkBackend::Create(Window& window) {
    auto* native = new Native;
    window.native = native;
    HWND handle = window.handle;

    if (window.kind == ControlKind::TopLevel) {
        GtkWidget* top = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        native->widget = top;
        int width, height;
        ClientSize(window, width, height);
        native->container = gtk_layout_new(nullptr, nullptr);
        gtk_widget_set_size_request(native->container, width, height);
        gtk_style_context_add_class(gtk_widget_get_style_context(native->container),
                                    "velmora-client");
        gtk_container_add(GTK_CONTAINER(top), native->container);
        gtk_widget_show(native->container);
        gtk_window_set_resizable(GTK_WINDOW(top), (window.style & WS_THICKFRAME) != 0);
        KeepAbove(GTK_WINDOW(top), window.topMost());
        if (window.windowClass) {
            if (GdkPixbuf* icon = LoadIcon(window.windowClass->icon)) {
                gtk_window_set_icon(GTK_WINDOW(top), icon);
                g_object_unref(icon);
            }
        }
        g_signal_connect(top, "delete-event", G_CALLBACK(OnDelete), handle);
        // The window manager reads the allowed functions when the window is mapped, so
        // they must be on the X window before it is first shown.
        gtk_widget_realize(top);
        RestrictFrame(top);
        ApplyText(window, *native);
        return;
    }

    switch (window.kind) {
    case ControlKind::ListBox:
        native->widget = MakeListBox(window, *native);
        break;
    case ControlKind::PushButton:
        native->widget = gtk_button_new_with_label("");
        g_signal_connect(native->widget, "clicked", G_CALLBACK(OnButtonClicked), handle);
        break;
    case ControlKind::CheckBox:
        native->widget = gtk_check_button_new_with_label("");
        g_signal_connect(native->widget, "toggled", G_CALLBACK(OnCheckToggled), handle);
        break;
    case ControlKind::Static:
    case ControlKind::StatusBar: {
        native->label = gtk_label_new("");
        gtk_label_set_xalign(GTK_LABEL(native->label), 0);
        gtk_label_set_ellipsize(GTK_LABEL(native->label), PANGO_ELLIPSIZE_END);
        if (window.kind == ControlKind::StatusBar) {
            gtk_label_set_yalign(GTK_LABEL(native->label), 0.5);
            gtk_style_context_add_class(gtk_widget_get_style_context(native->label),
                                        "velmora-status");
        } else {
            gtk_label_set_yalign(GTK_LABEL(native->label), 0);
        }
        native->widget = native->label;
        break;
    }
    case ControlKind::Browser:
        native->widget = MakeBrowserView(window.handle);
        break;
    default:
        native->widget = gtk_drawing_area_new();
        break;
    }
    gtk_widget_set_size_request(native->widget, window.width, window.height);
    gtk_widget_set_sensitive(native->widget, window.enabled());
    ApplyText(window, *native);
    if (GtkWidget* container = ParentContainer(window))
        gtk_layout_put(GTK_LAYOUT(container), native->widget, window.x, window.y);
}

void GtkBackend::Destroy(Window& window) {
    Native* native = NativeOf(window);
    if (!native)
        return;
    window.native = nullptr;
    if (native->store)
        g_object_unref(native->store);
    if (native->widget)
        gtk_widget_destroy(native->widget);
    delete native;
}

void GtkBackend::Show(Window& window, bool visible) {
    Native* native = NativeOf(window);
    if (!native)
        return;
    if (visible)
        gtk_widget_show(native->widget);
    else
        gtk_widget_hide(native->widget);
}

void GtkBackend::TextChanged(Window& window) {
    if (Native* native = NativeOf(window))
        ApplyText(window, *native);
}

void GtkBackend::EnabledChanged(Window& window) {
    // A disabled top-level window looks unchanged on Windows (user32 drops its input); a
    // disabled control is greyed.
    Native* native = NativeOf(window);
    if (native && window.kind != ControlKind::TopLevel)
        gtk_widget_set_sensitive(native->widget, window.enabled());
}

void GtkBackend::TopMostChanged(Window& window) {
    Native* native = NativeOf(window);
    if (native && window.kind == ControlKind::TopLevel)
        KeepAbove(GTK_WINDOW(native->widget), window.topMost());
}

void GtkBackend::ListReset(Window& list) {
    Native* native = NativeOf(list);
    if (!native || !native->store)
        return;
    native->selection = -1;
    native->updating = true;
    gtk_list_store_clear(native->store);
    native->updating = false;
}

void GtkBackend::ListAdd(Window& list, const std::string& utf8) {
    Native* native = NativeOf(list);
    if (!native || !native->store)
        return;
    gtk_list_store_insert_with_values(native->store, nullptr, -1, 0, utf8.c_str(), -1);
}

void GtkBackend::ListSelectionChanged(Window& list, int row) {
    Native* native = NativeOf(list);
    if (!native || !native->view)
        return;
    native->selection = row;
    ApplySelection(*native);
}

void GtkBackend::ListRedrawChanged(Window& list, bool redraw) {
    Native* native = NativeOf(list);
    if (!native || !native->view)
        return;
    // With redraw off the rows go into a model no view watches, which is what makes a
    // fill of thousands of rows fast; redraw on shows them all at once.
    if (!redraw && !native->storeDetached) {
        native->updating = true;
        gtk_tree_view_set_model(native->view, nullptr);
        native->updating = false;
        native->storeDetached = true;
    } else if (redraw && native->storeDetached) {
        native->storeDetached = false;
        native->updating = true;
        gtk_tree_view_set_model(native->view, GTK_TREE_MODEL(native->store));
        native->updating = false;
        ApplySelection(*native);
    }
}

void GtkBackend::Invalidate(Window& window, const RECT* area) {
    Native* native = NativeOf(window);
    if (!native)
        return;
    GtkWidget* widget = native->container ? native->container : native->widget;
    if (area)
        gtk_widget_queue_draw_area(widget, area->left, area->top, area->right - area->left,
                                   area->bottom - area->top);
    else
        gtk_widget_queue_draw(widget);
}

void GtkBackend::CheckChanged(Window& checkBox, bool checked) {
    Native* native = NativeOf(checkBox);
    if (!native)
        return;
    native->updating = true;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(native->widget), checked);
    native->updating = false;
}

void GtkBackend::Navigate(Window& host, const std::string& url) {
    Native* native = NativeOf(host);
    if (!native)
        return;
    LoadInBrowserView(native->widget, url);
}

void GtkBackend::ShowMessageBox(MessageBoxState& box) {
    const MessageBoxRequest& request = box.request;
    GtkWindow* owner = nullptr;
    if (Window* ownerWindow = FindWindowRecord(request.owner)) {
        Window* top = ownerWindow;
        while (top->parent)
            top = FindWindowRecord(top->parent);
        if (Native* native = NativeOf(*top))
            owner = GTK_WINDOW(native->widget);
    }
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

    g_signal_connect(dialog, "response", G_CALLBACK(+[](GtkDialog* dialog, int id, gpointer data) {
                         auto& box = *static_cast<MessageBoxState*>(data);
                         switch (id) {
                         case GTK_RESPONSE_YES:
                             box.answer = IDYES;
                             break;
                         case GTK_RESPONSE_NO:
                             box.answer = IDNO;
                             break;
                         default: // OK, or closed with Esc or the close box: a yes/no box
                                  // cannot be closed
                             if ((box.request.style & MB_TYPEMASK) == MB_YESNO)
                                 return;
                             box.answer = IDOK;
                             break;
                         }
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
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
        fprintf(stderr, "velmora-player: cannot open %s: %s\n", url.c_str(),
                error ? error->message : "no handler");
        if (error)
            g_error_free(error);
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
