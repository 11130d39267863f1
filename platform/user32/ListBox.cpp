// The "LISTBOX" control: an unsorted list of rows with at most one selected.
#include "user32/WindowStore.h"

using namespace velmora::platform;

namespace {

struct ListBox final : ControlState {
    std::vector<std::u16string> rows;
    int selection = LB_ERR; // none

    // Returns whether the selection changed.
    bool Select(Window& window, int row) {
        if (selection == row)
            return false;
        selection = row;
        CurrentBackend().ListSelectionChanged(window, row);
        return true;
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
