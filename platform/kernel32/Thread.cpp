// Threads, for the fetch that runs on one of its own, and the tick count. A handle names a
// shared object, so closing a handle never frees what a running thread or a wait still uses.
#include "Kernel32Internal.h"

#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// A thread's handle: ready once the thread has ended, and for good.
using Ended = std::shared_future<void>;

std::mutex tableLock;
std::map<HANDLE, Ended> table;
// Threads made: the last one's id, and a quarter of its handle (Windows' are multiples of 4).
uintptr_t created = 0;

} // namespace

using velmora::kernel32::Fail;

// Creation flags (suspended start) and stack sizes are not needed by the program.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (!start || flags != 0)
        return Fail<std::nullptr_t>(ERROR_INVALID_PARAMETER);
    std::packaged_task<void()> run([start, parameter] { start(parameter); });
    Ended ended = run.get_future().share();
    try {
        std::thread(std::move(run)).detach();
    } catch (const std::system_error&) {
        return Fail<std::nullptr_t>(ERROR_NOT_ENOUGH_MEMORY);
    }
    std::lock_guard<std::mutex> guard(tableLock);
    HANDLE handle = reinterpret_cast<HANDLE>(++created * 4); // never 0, as on Windows
    if (threadId)
        *threadId = static_cast<DWORD>(created);
    table[handle] = std::move(ended);
    return handle;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::unique_lock<std::mutex> guard(tableLock);
    auto found = table.find(handle);
    if (found == table.end())
        return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
    Ended ended = found->second;
    guard.unlock();
    if (milliseconds == INFINITE)
        ended.wait();
    else if (ended.wait_for(std::chrono::milliseconds(milliseconds)) != std::future_status::ready)
        return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    if (table.erase(handle) == 0)
        return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

LONG WINAPI InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

DWORD WINAPI GetTickCount(void) {
    auto sinceBoot = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sinceBoot).count());
}
