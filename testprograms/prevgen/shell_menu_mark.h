// Where the stand-in shell extension records that it is registered.
#pragma once

constexpr const wchar_t* kShellMenuMarkKey = L"SOFTWARE\\QarvShellMenuStandIn";
constexpr const wchar_t* kShellMenuMarkValue = L"Registered";
