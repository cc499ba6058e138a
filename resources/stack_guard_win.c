// Sets the stack protector's guard before GCC's libssp does.
//
// libssp fills it in a constructor of its own through CryptoAPI
// (CryptAcquireContextA, CryptGenRandom). Acquiring a provider loads the
// provider's DLLs and, behind them, user32 and gdi32, and those stay: every
// start of a program would pay for them, and the service would carry the
// window manager's libraries, and on Windows a desktop heap, for its whole
// life. libssp's constructor leaves a guard that is already set alone, so
// this one, which runs first (the earliest priority open to programs), sets
// it.
//
// It takes nothing from a DLL that is not already loaded: this runs before
// main, before the programs restrict where DLLs are looked for, and a DLL
// loaded now (ADVAPI32's RtlGenRandom forwards to cryptbase.dll, for one)
// would be looked for beside the program first. So the guard is mixed, as
// the C runtime of Microsoft's compiler mixes its cookie, from what KERNEL32
// answers at once and differs from one start to the next: the system time,
// the process and thread ids, the performance counter and the tick count,
// and the address of the stack, which address randomisation moves.
//
// Nothing protected is under way yet: constructors run from the C runtime's
// start-up, before main. This function itself must not be protected, since
// the guard it would check changes under it.
#include <windows.h>

#include <stdint.h>

extern void* __stack_chk_guard;

// One round of a 64-bit mixer, so that every input bit reaches every bit of
// the guard.
__attribute__((no_stack_protector)) static uint64_t mixed(uint64_t value) {
    value ^= value >> 30;
    value *= 0xbf58476d1ce4e5b9ULL;
    value ^= value >> 27;
    value *= 0x94d049bb133111ebULL;
    return value ^ (value >> 31);
}

__attribute__((constructor(101), no_stack_protector)) static void setStackGuard(void) {
    FILETIME now;
    LARGE_INTEGER counter;
    GetSystemTimeAsFileTime(&now);
    QueryPerformanceCounter(&counter);
    uint64_t guard = mixed(((uint64_t)now.dwHighDateTime << 32) | now.dwLowDateTime);
    guard = mixed(guard ^ (((uint64_t)GetCurrentProcessId() << 32) | GetCurrentThreadId()));
    guard = mixed(guard ^ (uint64_t)counter.QuadPart);
    guard = mixed(guard ^ GetTickCount64());
    guard = mixed(guard ^ (uint64_t)(uintptr_t)&counter);
    // Zero would leave the guard to libssp, which would fill it anew.
    __stack_chk_guard = (void*)(uintptr_t)(guard != 0 ? guard : 0x2b992ddfa23249d6ULL);
}
