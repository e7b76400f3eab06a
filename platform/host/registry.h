// The registry's value types. The system itself writes the registry only
// through the registrar; tests look at it through testing_install.h.
#pragma once

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7
