// Previous-generation removal.
// Not built yet: nothing of the previous generation is looked for or removed.
#include "legacy/previous_generation.h"

void RemovePreviousGeneration() {}
