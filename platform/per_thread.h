#pragma once
// One object of T per thread, made on first use and destroyed when its thread ends. There is
// one object per type: give each record a type of its own.
//
// Windows: not C++ thread_local. With MinGW-w64's emulated TLS the destructors of thread_local
// objects run after the thread's TLS block has been freed, which corrupts the heap when a
// thread ends. A fiber-local storage slot with a callback owns the objects instead; the module
// is pinned once the slot exists, so that the callback outlives every thread that uses it.

#include <memory>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tavrin::platform {

template <class T>
T& PerThread() {
#if defined(_WIN32)
    struct Slot {
        static void NTAPI Free(PVOID object) { delete static_cast<T*>(object); }
        DWORD index = FLS_OUT_OF_INDEXES;
        Slot() {
            HMODULE pinned = nullptr;
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                               reinterpret_cast<LPCWSTR>(&Slot::Free), &pinned);
            index = FlsAlloc(&Slot::Free);
        }
    };
    static const Slot slot;
    if (slot.index == FLS_OUT_OF_INDEXES) {
        // No slot to be had: the objects are kept for the life of the process.
        thread_local T* leaked = nullptr;
        if (leaked == nullptr) leaked = new T();
        return *leaked;
    }
    if (void* existing = FlsGetValue(slot.index)) return *static_cast<T*>(existing);
    auto made = std::make_unique<T>();
    FlsSetValue(slot.index, made.get());
    return *made.release();
#else
    thread_local T object;
    return object;
#endif
}

}  // namespace tavrin::platform
