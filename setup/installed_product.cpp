// Installed-product detection and restart registration.
// Not built yet: nothing is ever found installed and no Run value is written or removed.
#include "setup/installed_product.h"

int IsProductInstalled(CQarv2009VURoruzDlg*) { return 0; }

void RegisterRestart() {}

void UnregisterRestart() {}
