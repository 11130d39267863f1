// Threads, for the fetch that runs on one of its own, and the tick count. A handle names a
// shared object, so closing a handle never frees what a running thread or a wait still uses.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

// A thread: signalled once it has ended, and for good.
struct Waitable {
    std::mutex lock;
    std::condition_variable changed;
    bool signaled = false;

    void Signal() {
        std::lock_guard<std::mutex> guard(lock);
        signaled = true;
        changed.notify_all();
    }
};

std::mutex tableLock;
std::map<HANDLE, std::shared_ptr<Waitable>> table;
uintptr_t lastHandle = 0;
DWORD lastThreadId = 0;

HANDLE Insert(std::shared_ptr<Waitable> object) {
    std::lock_guard<std::mutex> guard(tableLock);
    lastHandle += 4; // Windows' handles are multiples of 4, never 0
    HANDLE handle = reinterpret_cast<HANDLE>(lastHandle);
    table[handle] = std::move(object);
    return handle;
}

std::shared_ptr<Waitable> Find(HANDLE handle) {
    std::lock_guard<std::mutex> guard(tableLock);
    auto found = table.find(handle);
    if (found == table.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return found->second;
}

} // namespace

// Creation flags (suspended start) and stack sizes are not needed by the program.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (!start || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto object = std::make_shared<Waitable>();
    try {
        std::thread([object, start, parameter] {
            start(parameter);
            object->Signal();
        }).detach();
    } catch (const std::system_error&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (threadId) {
        std::lock_guard<std::mutex> guard(tableLock);
        *threadId = ++lastThreadId;
    }
    return Insert(std::move(object));
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::shared_ptr<Waitable> object = Find(handle);
    if (!object)
        return WAIT_FAILED;
    std::unique_lock<std::mutex> guard(object->lock);
    auto signaled = [&] { return object->signaled; };
    if (milliseconds == INFINITE)
        object->changed.wait(guard, signaled);
    else if (!object->changed.wait_for(guard, std::chrono::milliseconds(milliseconds), signaled))
        return WAIT_TIMEOUT;
    return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
    std::shared_ptr<Waitable> released; // freed after the lock is let go
    std::lock_guard<std::mutex> guard(tableLock);
    auto found = table.find(handle);
    if (found == table.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    released = std::move(found->second);
    table.erase(found);
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
