// What the Windows parts of the platform layer share of an open file. Only
// Win32 sources include it.
#pragma once

#include <windows.h>

#include "platform/open_file.h"

/// The handle of an open file.
HANDLE handle_of(const open_file& file);
