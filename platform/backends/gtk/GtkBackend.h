// The desktop window system: GTK 3 widgets mirror user32's windows, WebKitGTK shows the
// browser host, GtkMessageDialog the message boxes.
#pragma once

#include "backends/gtk/GtkControl.h"

#include <string>

namespace velmora::platform {

class GtkBackend final : public Backend {
  public:
    // Opens the display. On failure, error says why (for a one-line message).
    bool Start(int* argc, char*** argv, std::string& error);

    void Create(Window& window) override;
    void Destroy(Window& window) override;
    void Show(Window& window, bool visible) override;
    void TextChanged(Window& window) override {
        ControlOf(&window).SetText(WideToUtf8(window.text));
    }
    void EnabledChanged(Window& window) override;
    void TopMostChanged(Window& window) override {
        ControlOf(&window).SetTopMost(window.topMost());
    }
    void Invalidate(Window& window, const RECT* area) override;
    void ListReset(Window& list) override { ControlOf(&list).ListReset(); }
    void ListAdd(Window& list, const std::string& utf8) override { ControlOf(&list).ListAdd(utf8); }
    void ListSelectionChanged(Window& list, int row) override { ControlOf(&list).ListSelect(row); }
    void ListRedrawChanged(Window& list, bool redraw) override {
        ControlOf(&list).ListRedraw(redraw);
    }
    void CheckChanged(Window& box, bool checked) override { ControlOf(&box).SetChecked(checked); }
    void FocusChanged(Window* window) override;
    bool ForwardKeyToPage(Window& host, const MSG& key) override;
    void Navigate(Window& host, const std::string& url) override { ControlOf(&host).Navigate(url); }
    void ShowMessageBox(MessageBoxState& box) override;
    void HideMessageBox(MessageBoxState& box) override;
    bool OpenInBrowser(HWND owner, const std::string& url) override;
    bool WaitForInput() override;
};

} // namespace velmora::platform
