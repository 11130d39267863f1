// The "LISTBOX" control: an unsorted list of rows with at most one selected.
#include "user32/WindowStore.h"

using namespace velmora::platform;

namespace {

struct ListBox final : ControlState {
    std::vector<std::u16string> rows;
    int selection = LB_ERR; // none
    int caret = 0;          // where the arrow keys move from: the last row selected

    // Returns whether the selection changed.
    bool Select(Window& window, int row) {
        if (row != LB_ERR)
            caret = row;
        if (selection == row)
            return false;
        selection = row;
        CurrentBackend().ListSelectionChanged(window, row);
        return true;
    }

    // The row a key moves the selection to; -1 for a key that moves nothing.
    int KeyTarget(UINT key, int count) const {
        switch (key) {
        case VK_UP:
        case VK_LEFT:
            return caret > 0 ? caret - 1 : caret;
        case VK_DOWN:
        case VK_RIGHT:
            return caret < count - 1 ? caret + 1 : caret;
        case VK_HOME:
            return 0;
        case VK_END:
            return count - 1;
        default:
            return -1;
        }
    }

    LRESULT Message(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
        const int count = (int)rows.size();
        const int row = (int)wParam;
        const bool inList = row >= 0 && row < count;
        const bool notify = (window.style & LBS_NOTIFY) != 0;
        switch (message) {
        case LB_ADDSTRING:
            rows.push_back(WideString(reinterpret_cast<LPCWSTR>(lParam)));
            CurrentBackend().ListAdd(window, WideToUtf8(rows.back()));
            return count;
        case LB_RESETCONTENT:
            rows.clear();
            selection = LB_ERR;
            caret = 0;
            CurrentBackend().ListReset(window);
            return TRUE;
        case LB_INITSTORAGE:
            rows.reserve(count + wParam);
            return (LRESULT)rows.capacity();
        case LB_SETCURSEL:
            Select(window, inList ? row : LB_ERR);
            return inList ? row : LB_ERR;
        case LB_GETCURSEL:
            return selection;
        case LB_GETCOUNT:
            return count;
        case LB_GETTEXT: // the caller's buffer is trusted to hold the whole row, as on Windows
            if (!inList || !lParam)
                return LB_ERR;
            return (LRESULT)CopyCut(rows[row], reinterpret_cast<WCHAR*>(lParam),
                                    rows[row].size() + 1);
        case LB_GETTEXTLEN:
            return inList ? (LRESULT)rows[row].size() : LB_ERR;
        case WM_SETREDRAW:
            CurrentBackend().ListRedrawChanged(window, wParam != 0);
            return 0;
        case WM_GETDLGCODE:
            return DLGC_WANTARROWS | DLGC_WANTCHARS;
        case WM_KEYDOWN: {
            // The arrows move from the caret, which starts on the first row even when none
            // is selected (so Down then selects the second), as on Windows.
            int target = KeyTarget((UINT)wParam, count);
            if (target >= 0 && target < count && Select(window, target) && notify)
                NotifyParent(window, LBN_SELCHANGE);
            return 0;
        }
        case kInputListSelect:
            if (inList && Select(window, row) && notify)
                NotifyParent(window, LBN_SELCHANGE);
            return 0;
        case kInputListActivate: {
            // A double-click on a row selects it; one below the last row keeps the selection.
            HWND handle = window.handle;
            if (inList && Select(window, row) && notify) {
                NotifyParent(window, LBN_SELCHANGE);
                // The parent may have destroyed the list, and this state with it.
                if (!FindWindowRecord(handle))
                    return 0;
            }
            if (notify)
                NotifyParent(window, LBN_DBLCLK);
            return 0;
        }
        default:
            return DefWindowProcW(window.handle, message, wParam, lParam);
        }
    }
};

} // namespace

const WNDPROC velmora::platform::ListBoxProc = ControlProc<ListBox>;
