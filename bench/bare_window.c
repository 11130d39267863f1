/* The floor for start_bench's window on screen: a bare GTK window of the player's client size
 * with one line of text at its foot, where the player has its status bar.
 *
 *   bare_window
 */
#include <gtk/gtk.h>

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "velmora bare window");
    gtk_window_set_default_size(GTK_WINDOW(window), 764, 586);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* label = gtk_label_new("A bare GTK window, as light as a window gets");
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    gtk_box_pack_end(GTK_BOX(box), label, FALSE, FALSE, 2);
    gtk_container_add(GTK_CONTAINER(window), box);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    gtk_main();
    return 0;
}
