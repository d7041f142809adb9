// Tables made on first use, by whichever thread asks first (it takes
// microseconds; a second thread that asks meanwhile waits for it). No start-up
// code has to run before: unzip.exe has none of the C runtime's, and the
// tables, zero until made, take no room in the program file.
#pragma once

// `state` starts as 0 and belongs to the one table that `make` fills.
inline void makeOnce(int& state, void (*make)()) {
    if (__atomic_load_n(&state, __ATOMIC_ACQUIRE) == 2) return;
    int expected = 0;
    if (__atomic_compare_exchange_n(&state, &expected, 1, false, __ATOMIC_ACQUIRE, __ATOMIC_ACQUIRE)) {
        make();
        __atomic_store_n(&state, 2, __ATOMIC_RELEASE);
    }
    while (__atomic_load_n(&state, __ATOMIC_ACQUIRE) != 2) {
    }
}
