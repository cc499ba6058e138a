// The stack protector's guard and its two failure calls, in place of GCC's
// libssp's own.
//
// libssp fills the guard in a constructor of its own through CryptoAPI
// (CryptAcquireContextA, CryptGenRandom), and the mere import of those
// functions costs: current Windows forwards them from ADVAPI32 to
// cryptsp.dll, as it forwards RtlGenRandom to cryptbase.dll, and neither is
// a known DLL. A forwarded import is resolved before main, before the
// programs restrict where DLLs are looked for, and the loader looks beside
// the program first: a cryptsp.dll planted there would run with the
// program's rights. Acquiring a provider would also load the provider's DLLs
// and, behind them, user32 and gdi32 for the process's whole life. Defining
// here all that libssp's ssp.o defines keeps that object, and its imports,
// out of the programs; the fortified C library calls that libssp brings
// still come from it and end through __chk_fail below.
//
// The guard takes nothing from a DLL that is not already loaded. It is
// mixed, as the C runtime of Microsoft's compiler mixes its cookie, from what
// KERNEL32 answers at once and differs from one start to the next: the
// system time, the process and thread ids, the performance counter and the
// tick count, and the address of the stack, which address randomisation
// moves. It is set by a constructor of the earliest priority open to
// programs, from the C runtime's start-up, before anything protected runs.
// These functions must not be protected themselves, since the guard they
// would check changes under them.
#include <windows.h>

#include <stdint.h>

void* __stack_chk_guard;

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
    // Never zero, the value that an overflow of zeros would match.
    __stack_chk_guard = (void*)(uintptr_t)(guard != 0 ? guard : 0x2b992ddfa23249d6ULL);
}

// A protected function found its stack overwritten, or a fortified call its
// buffer too small: the process cannot go on safely. It says so on its
// standard error, where a console shows it, and ends at once with the code
// that Windows gives such a failure (STATUS_STACK_BUFFER_OVERRUN).
//
// It ends through a fast fail request (__fastfail, int 0x29 with the reason
// in rcx), which no handler of the program can intercept and which Windows
// Error Reporting records (Application Error, event 1000) and can keep a dump
// of: the evidence that an attack, or the bug, leaves. Windows before 8 has
// no such request and would take int 0x29 for an access violation, which a
// handler could catch; there, as should the request ever come back,
// TerminateProcess ends the process. MinGW-w64 has no __fastfail of its own. The
// reason tells the report an overwritten stack from a fortified call's
// buffer, which may lie anywhere, as the C runtime of Microsoft's compiler
// tells its cookie check from its range check.
__attribute__((noreturn, no_stack_protector)) static void endAfterOverrun(const char* message, DWORD length,
                                                                         unsigned reason) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, length, &written, NULL);
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        __asm__ __volatile__("int $0x29" : : "c"((uintptr_t)reason) : "memory");
    }
    TerminateProcess(GetCurrentProcess(), 0xC0000409);
    for (;;) {
    }
}

__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail(void) {
    static const char message[] = "*** stack smashing detected ***: terminated\r\n";
    endAfterOverrun(message, sizeof message - 1, FAST_FAIL_STACK_COOKIE_CHECK_FAILURE);
}

__attribute__((noreturn, no_stack_protector)) void __chk_fail(void) {
    static const char message[] = "*** buffer overflow detected ***: terminated\r\n";
    endAfterOverrun(message, sizeof message - 1, FAST_FAIL_RANGE_CHECK_FAILURE);
}
