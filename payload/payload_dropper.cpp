// Payload dropper.
// Not built yet: every drop fails, so the setup worker ends with its general error message.
#include "payload/payload_dropper.h"

int DropPayload(HMODULE, const wchar_t*, ProgressTarget*) { return 0; }
