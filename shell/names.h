// The names by which the system is known.
#pragma once

// The service, its dispatch-table entry, its event source and that source's key.
inline constexpr char serviceName[] = "VezOzuD";
// The service's display name, and how console messages name it.
inline constexpr char displayName[] = "Quarnel SysLog Daemon";
// Shown in the usage lines only.
inline constexpr char programName[] = "QuarnelSysLog";
