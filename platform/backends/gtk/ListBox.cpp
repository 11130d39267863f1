// The list box: a GtkTreeView of one text column in a scrolled window.
#include "backends/gtk/GtkControl.h"

namespace velmora::platform {
namespace {

struct ListBox final : GtkControl {
    GtkTreeView* view = nullptr;
    GtkListStore* store = nullptr;
    int selection = -1;         // -1 for none
    bool storeDetached = false; // rows are being added with redraw off
    bool updating = false;      // a change made by user32, not by the user

    ~ListBox() override {
        updating = true; // the view's teardown reports no selection
        gtk_widget_destroy(widget);
        widget = nullptr;
        g_object_unref(store);
    }

    void ApplySelection() {
        if (storeDetached)
            return; // applied when the rows are shown again
        updating = true;
        if (selection >= 0) {
            g_autoptr(GtkTreePath) path = gtk_tree_path_new_from_indices(selection, -1);
            // The cursor (the row the focus is drawn on) goes with the selection.
            gtk_tree_view_set_cursor(view, path, nullptr, FALSE);
            gtk_tree_view_scroll_to_cell(view, path, nullptr, FALSE, 0, 0);
        } else {
            gtk_tree_selection_unselect_all(gtk_tree_view_get_selection(view));
        }
        updating = false;
    }

    GtkWidget* FocusWidget() override { return GTK_WIDGET(view); }
    // GtkTreeView selects its first row when it gets the focus with none selected; a list
    // box only shows the focus.
    void TakeFocus() override {
        updating = true;
        gtk_widget_grab_focus(GTK_WIDGET(view));
        updating = false;
        ApplySelection();
    }

    void ListReset() override {
        selection = -1;
        updating = true;
        gtk_list_store_clear(store);
        updating = false;
    }
    void ListAdd(const std::string& utf8) override {
        gtk_list_store_insert_with_values(store, nullptr, -1, 0, utf8.c_str(), -1);
    }
    void ListSelect(int row) override {
        selection = row;
        ApplySelection();
    }
    // With redraw off the rows go into a model no view watches, which is what makes a fill
    // of thousands of rows fast; redraw on shows them all at once.
    void ListRedraw(bool redraw) override {
        if (redraw == !storeDetached)
            return;
        storeDetached = !redraw;
        updating = true;
        gtk_tree_view_set_model(view, redraw ? GTK_TREE_MODEL(store) : nullptr);
        updating = false;
        if (redraw)
            ApplySelection();
    }
};

int RowOf(GtkTreePath* path) {
    int depth = 0;
    int* indices = gtk_tree_path_get_indices_with_depth(path, &depth);
    return depth > 0 ? indices[0] : -1;
}

// A double-click, and only a double-click, is LBN_DBLCLK: unlike GtkTreeView's
// row-activated, Enter and Space do nothing in a Windows list box. A double-click below
// the last row keeps the selection, as on Windows.
gboolean OnButtonPress(GtkWidget* view, GdkEventButton* event, gpointer data) {
    if (event->type != GDK_2BUTTON_PRESS || event->button != 1)
        return FALSE;
    g_autoptr(GtkTreePath) path = nullptr;
    bool onRow = gtk_tree_view_get_path_at_pos(GTK_TREE_VIEW(view), (int)event->x, (int)event->y,
                                               &path, nullptr, nullptr, nullptr);
    input::ListDoubleClick(static_cast<ListBox*>(data)->handle, onRow ? RowOf(path) : -1);
    return FALSE;
}

void OnSelectionChanged(GtkTreeSelection* selection, gpointer data) {
    auto* list = static_cast<ListBox*>(data);
    GtkTreeModel* model = nullptr;
    GtkTreeIter iter;
    if (list->updating || !gtk_tree_selection_get_selected(selection, &model, &iter))
        return;
    g_autoptr(GtkTreePath) path = gtk_tree_model_get_path(model, &iter);
    input::ListSelect(list->handle, RowOf(path));
}

} // namespace

GtkControl* NewListBox(Window& window) {
    auto* list = new ListBox;
    list->store = gtk_list_store_new(1, G_TYPE_STRING);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(list->store));
    list->view = GTK_TREE_VIEW(view);
    gtk_tree_view_set_headers_visible(list->view, FALSE);
    gtk_tree_view_set_enable_search(list->view, FALSE);
    GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
    g_object_set(renderer, "ypad", 0, nullptr);
    GtkTreeViewColumn* column =
        gtk_tree_view_column_new_with_attributes("", renderer, "text", 0, nullptr);
    // Fixed-height rows keep thousands of rows as cheap as a handful.
    gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_append_column(list->view, column);
    gtk_tree_view_set_fixed_height_mode(list->view, TRUE);
    g_signal_connect(view, "button-press-event", G_CALLBACK(OnButtonPress), list);
    g_signal_connect(gtk_tree_view_get_selection(list->view), "changed",
                     G_CALLBACK(OnSelectionChanged), list);

    list->widget = gtk_scrolled_window_new(nullptr, nullptr);
    GtkScrolledWindow* scroller = GTK_SCROLLED_WINDOW(list->widget);
    gtk_scrolled_window_set_policy(scroller, GTK_POLICY_NEVER,
                                   (window.style & WS_VSCROLL) ? GTK_POLICY_ALWAYS
                                                               : GTK_POLICY_NEVER);
    gtk_scrolled_window_set_overlay_scrolling(scroller, FALSE);
    gtk_scrolled_window_set_shadow_type(scroller, GTK_SHADOW_IN);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    gtk_widget_show(view);
    return list;
}

} // namespace velmora::platform
