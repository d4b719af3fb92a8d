#pragma once
// The process-wide login prompt hook that TMSConnection shows before connecting
// when LoginPrompt is set. SetLoginPromptHook is declared in ms_connection.h.

#include "client/ms_connection.h"

namespace tersify {

// Shows the prompt: false when the user cancelled or no prompt is installed.
bool RunLoginPrompt(TMSConnection& connection, TLoginValues& values);

}  // namespace tersify
