// The desktop window system: GTK 3 widgets mirror user32's windows, WebKitGTK shows the
// browser host, GtkMessageDialog the message boxes.
#pragma once

#include "user32/Backend.h"

#include <string>

namespace velmora::platform {

class GtkBackend final : public Backend {
  public:
    // Opens the display. On failure, error says why (for a one-line message).
    bool Start(int* argc, char*** argv, std::string& error);

    void Create(Window& window) override;
    void Destroy(Window& window) override;
    void Show(Window& window, bool visible) override;
    void TextChanged(Window& window) override;
    void EnabledChanged(Window& window) override;
    void TopMostChanged(Window& window) override;
    void Invalidate(Window& window, const RECT* area) override;
    void ListReset(Window& list) override;
    void ListAdd(Window& list, const std::string& utf8) override;
    void ListSelectionChanged(Window& list, int row) override;
    void ListRedrawChanged(Window& list, bool redraw) override;
    void CheckChanged(Window& checkBox, bool checked) override;
    void FocusChanged(Window* window) override;
    bool ForwardKeyToPage(Window& host, const MSG& key) override;
    void Navigate(Window& host, const std::string& url) override;
    void ShowMessageBox(MessageBoxState& box) override;
    void HideMessageBox(MessageBoxState& box) override;
    bool OpenInBrowser(HWND owner, const std::string& url) override;
    bool WaitForInput() override;
};

} // namespace velmora::platform
