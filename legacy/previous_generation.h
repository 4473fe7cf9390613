// Removing the product's previous (2006) generation before the setup sequence runs.
#pragma once

// Ends the previous generation's programs and removes its files, shortcuts, registry keys, shell
// extension and updater, when that generation recorded its folder. Absorbs every failure.
void RemovePreviousGeneration();
