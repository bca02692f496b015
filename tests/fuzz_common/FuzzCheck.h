#pragma once

// A fuzz finding must stop the run where it happens, in every build type.
inline void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}
