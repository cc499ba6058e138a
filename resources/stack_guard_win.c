// Seeds the stack protector's guard before GCC's libssp does.
//
// libssp seeds it in a constructor of its own through CryptoAPI
// (CryptAcquireContextA, CryptGenRandom). Acquiring a provider loads the
// provider's DLLs and, behind them, user32 and gdi32, and those stay: every
// start of a program would pay for them, and the service would carry the
// window manager's libraries, and on Windows a desktop heap, for its whole
// life. libssp's constructor leaves a guard that is already set alone, so
// this one, which runs first (the earliest priority open to programs), sets
// it from RtlGenRandom: advapi32, which every program here imports anyway,
// and no further DLL. Should that fail, the guard goes back to zero and
// libssp seeds it as it always did.
//
// Nothing protected is under way yet: constructors run from the C runtime's
// start-up, before main. This function itself must not be protected, since
// the guard it would check changes under it.
#include <windows.h>
#include <ntsecapi.h>

extern void* __stack_chk_guard;

__attribute__((constructor(101), no_stack_protector)) static void seedStackGuard(void) {
    if (!RtlGenRandom(&__stack_chk_guard, sizeof __stack_chk_guard)) __stack_chk_guard = 0;
}
