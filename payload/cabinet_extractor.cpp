// Cabinet extraction.
// Not built yet: every extraction fails and nothing is written.
#include "payload/cabinet_extractor.h"

int ExtractCabinet(const wchar_t*, const wchar_t*, char* programPath) {
    if (programPath != nullptr) programPath[0] = '\0';
    return 0;
}
