// The install and remove commands, and the event source registration they share.
#pragma once

#include "platform/platform.h"

extern char errorText[256];

void InstallService();
void RemoveService();
char* DescribeLastError(char* buffer, int size);
void UpdateEventSourceRegistration(bool registerSource);
