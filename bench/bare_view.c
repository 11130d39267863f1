/* The floor for first_frame_bench: a bare WebKitWebView with the player's web settings and
 * autoplay policy, the size of the player's browser area. It loads START_URL at once (so its
 * web process is as warm as the player's when the click comes) and EPISODE_URL on a
 * double-click, as the player's list does (on the second press).
 *
 *   bare_view START_URL EPISODE_URL
 */
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

static gboolean OnButtonPress(GtkWidget* view, GdkEventButton* event, gpointer episodeUrl) {
    if (event->type == GDK_2BUTTON_PRESS && event->button == 1)
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), episodeUrl);
    return FALSE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    if (argc != 3) {
        g_printerr("usage: bare_view START_URL EPISODE_URL\n");
        return 2;
    }

    WebKitSettings* settings = webkit_settings_new();
    webkit_settings_set_enable_media(settings, TRUE);
    webkit_settings_set_media_playback_requires_user_gesture(settings, FALSE);
    webkit_settings_set_enable_javascript(settings, TRUE);
    webkit_settings_set_enable_fullscreen(settings, TRUE);
    WebKitWebsitePolicies* policies =
        webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, NULL);
    GtkWidget* view = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", settings,
                                              "website-policies", policies, NULL));
    g_object_unref(settings);
    g_object_unref(policies);
    g_signal_connect(view, "button-press-event", G_CALLBACK(OnButtonPress), argv[2]);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "velmora bare view");
    gtk_widget_set_size_request(view, 640, 535);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
    gtk_main();
    return 0;
}
