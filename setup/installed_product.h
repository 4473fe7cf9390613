// Installed-product detection and the restart registration under the machine's Run key.
#pragma once

class CQarv2009VURoruzDlg;

// 1 when the current generation is installed (it then sets the dialog's interface language and
// removes the restart registration), 0 otherwise. Runs on the GUI thread during initialisation.
int IsProductInstalled(CQarv2009VURoruzDlg* dialog);

// Writes the Run value that starts this executable again at logon. Failures are not reported.
void RegisterRestart();

// Removes that Run value. Failures are not reported.
void UnregisterRestart();
