// What the payload drop borrows from the progress dialog: its bar. A test gives a bar of its own.
#pragma once

#include <windows.h>

namespace qarv {

class ProgressTarget {
public:
    // The msctls_progress32 window that takes PBM_SETPOS; sent to from the worker thread.
    virtual HWND ProgressBarWindow() const = 0;

protected:
    ~ProgressTarget() = default;
};

}  // namespace qarv
