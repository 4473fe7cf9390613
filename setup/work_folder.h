// Choosing the work folder by the free space of the Windows drive.
#pragma once

#include <string>

// Result of ChooseWorkFolder.
using WorkFolderStatus = int;
constexpr WorkFolderStatus kWorkFolderChosen = 0;
constexpr WorkFolderStatus kWorkFolderSystemCallFailed = 1;
constexpr WorkFolderStatus kWorkFolderNoSpareDrive = 2;
constexpr WorkFolderStatus kWorkFolderWindowsDriveFull = 3;

// Empties `folder`, then chooses a work folder; `folder` is set only with kWorkFolderChosen.
// Creates nothing but (on the temporary-folder route) an empty placeholder file of that name.
WorkFolderStatus ChooseWorkFolder(std::wstring& folder);
