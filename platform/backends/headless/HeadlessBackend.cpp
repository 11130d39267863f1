#include "backends/headless/HeadlessBackend.h"

#include <urlmon.h>

#include <algorithm>

namespace velmora::platform {

HeadlessBackend::HeadlessBackend() {
    SetBackend(this);
    ResetWindowSystem();
}

HeadlessBackend::~HeadlessBackend() {
    ResetWindowSystem();
    SetBackend(nullptr);
}

void HeadlessBackend::Create(Window& window) {
    created.push_back({window.handle, window.parent,
                       window.windowClass ? WideToUtf8(window.windowClass->name) : "",
                       WideToUtf8(window.text), window.style, window.exStyle, window.x, window.y,
                       window.width, window.height, window.id});
}

void HeadlessBackend::Destroy(Window& window) {
    closeRequested_.erase(window.handle);
    shown_.erase(window.handle);
}

void HeadlessBackend::TopMostChanged(Window& window) {
    topMostChanges.push_back({window.handle, window.topMost()});
}

void HeadlessBackend::Navigate(Window& host, const std::string& url) {
    navigations.push_back(url);
    loading_.push_back({host.handle, url});
}

void HeadlessBackend::PageNavigates(HWND host, const std::string& url, browser::Frame frame) {
    Window* window = FindWindowRecord(host);
    if (!window || !browser::BeforeNavigate(host, url, frame))
        return;
    if (frame == browser::Frame::Top) {
        Navigate(*window, url);
        return;
    }
    frameNavigations.push_back(url);
    if (HRESULT status = FailureOf(url))
        browser::NavigateError(host, url, frame, status);
}

HRESULT HeadlessBackend::FailureOf(const std::string& url) const {
    auto failure = loadErrors.find(url);
    if (failure != loadErrors.end())
        return failure->second;
    bool resource = url.compare(0, 4, "res:") == 0;
    return resource && !browser::ResourcePage(url) ? INET_E_RESOURCE_NOT_FOUND : S_OK;
}

void HeadlessBackend::Commit(HWND host, const std::string& url) {
    HRESULT status = FailureOf(url);
    if (status && !browser::NavigateError(host, url, browser::Frame::Top, status))
        return;
    if (FAILED(status)) {
        errorPages.push_back(url);
        return;
    }
    shown_[host] = url;
    browser::NavigateComplete(host, url);
}

void HeadlessBackend::PageDownloads(HWND host, const std::string& url) {
    if (FindWindowRecord(host) && browser::BeforeNavigate(host, url, browser::Frame::Top) &&
        browser::FileDownload(host))
        downloads.push_back(url);
}

void HeadlessBackend::PageOpensWindow(HWND host, const std::string& url) {
    auto shown = shown_.find(host);
    if (FindWindowRecord(host) &&
        browser::NewWindow(host, url, shown == shown_.end() ? std::string() : shown->second))
        newWindows.push_back(url);
}

void HeadlessBackend::ShowMessageBox(MessageBoxState& box) {
    messageBoxes.push_back(box.request);
    openBoxes.push_back(&box);
    int answer = onMessageBox                                    ? onMessageBox(box.request)
                 : (box.request.style & MB_TYPEMASK) == MB_YESNO ? IDNO
                                                                 : IDOK;
    if (answer)
        Answer(box, answer);
}

void HeadlessBackend::Answer(MessageBoxState& box, int answer) {
    box.answer = answer;
    HideMessageBox(box);
}

void HeadlessBackend::HideMessageBox(MessageBoxState& box) {
    openBoxes.erase(std::remove(openBoxes.begin(), openBoxes.end(), &box), openBoxes.end());
}

bool HeadlessBackend::OpenInBrowser(HWND owner, const std::string& url) {
    openedInBrowser.push_back(url);
    openedInBrowserOwners.push_back(owner);
    return browserOpenSucceeds;
}

bool HeadlessBackend::WaitForInput() {
    // A test that keeps saying "more" without ever queuing anything would spin for ever.
    constexpr int kIdleLimit = 1000;
    if (!loading_.empty()) {
        auto [host, url] = loading_.front();
        loading_.pop_front();
        if (FindWindowRecord(host))
            Commit(host, url);
        return true;
    }
    if (onIdle && idleWithoutInput_ < kIdleLimit && onIdle()) {
        MSG peek;
        idleWithoutInput_ =
            PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE) ? 0 : idleWithoutInput_ + 1;
        return true;
    }
    bool closing = false;
    for (Window* window : TopLevelWindows()) {
        if (closeRequested_.insert(window->handle).second) {
            input::Close(window->handle);
            closing = true;
        }
    }
    return closing;
}

} // namespace velmora::platform
