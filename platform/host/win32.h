// The host layer: the part of the Windows API this system uses, declared here in
// our own words and emulated over POSIX. Each header covers one area.
#pragma once

#include "base.h"
#include "winsock.h"
#include "eventlog.h"
#include "service.h"
#include "system.h"
#include "scm.h"
#include "registry.h"
#include "com.h"
#include "console.h"
