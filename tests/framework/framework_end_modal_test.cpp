// The order inside CDialog::EndModal. Once the end is published the GUI thread may leave its loop
// and destroy the window and the dialog object, so EndModal must have read the window handle
// before. The test places a real dialog so that its handle lies at the end of one page and its end
// state at the start of the next; the first write of the end state takes the handle's page away,
// as a destroyed object would, and any later read of the handle is caught.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "framework/dialog.h"
#include "res/resource_ids.h"

namespace {

struct PageTrap {
    BYTE* handlePage = nullptr;
    BYTE* endPage = nullptr;
    SIZE_T pageSize = 0;
    DWORD thread = 0;
    bool endWritten = false;
    bool handleReadAfterEnd = false;
};
PageTrap g_trap;

bool Within(const BYTE* address, const BYTE* page) { return address >= page && address < page + g_trap.pageSize; }

LONG CALLBACK OnPageTrap(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || GetCurrentThreadId() != g_trap.thread ||
        record->NumberParameters < 2) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto* address = reinterpret_cast<const BYTE*>(record->ExceptionInformation[1]);
    DWORD previous = 0;
    if (!g_trap.endWritten && Within(address, g_trap.endPage)) {
        g_trap.endWritten = true;
        VirtualProtect(g_trap.endPage, g_trap.pageSize, PAGE_READWRITE, &previous);
        VirtualProtect(g_trap.handlePage, g_trap.pageSize, PAGE_NOACCESS, &previous);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (g_trap.endWritten && Within(address, g_trap.handlePage)) {
        g_trap.handleReadAfterEnd = true;
        VirtualProtect(g_trap.handlePage, g_trap.pageSize, PAGE_READWRITE, &previous);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// Where the window handle sits in a dialog object, found by its value once the window exists.
size_t g_handleOffset = 0;

class OrderProbeDialog : public CDialog {
public:
    OrderProbeDialog() : CDialog(IDD_PROGRESS_DIALOG, nullptr) {}
    static bool s_trapTheEnd;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (!s_trapTheEnd) {
            FindHandleOffset();
            EndModal(IDCANCEL);
            return TRUE;
        }
        DWORD previous = 0;
        g_trap.thread = GetCurrentThreadId();
        VirtualProtect(g_trap.endPage, g_trap.pageSize, PAGE_READONLY, &previous);
        EndModal(IDOK);
        VirtualProtect(g_trap.handlePage, g_trap.pageSize, PAGE_READWRITE, &previous);
        VirtualProtect(g_trap.endPage, g_trap.pageSize, PAGE_READWRITE, &previous);
        g_trap.thread = 0;
        return TRUE;
    }

private:
    void FindHandleOffset() {
        const HWND window = GetSafeHwnd();
        const auto* bytes = reinterpret_cast<const BYTE*>(this);
        int matches = 0;
        for (size_t offset = 0; offset + sizeof(HWND) <= sizeof(*this); offset += alignof(HWND)) {
            HWND value = nullptr;
            std::memcpy(&value, bytes + offset, sizeof(value));
            if (value == window) {
                g_handleOffset = offset;
                ++matches;
            }
        }
        if (matches != 1) g_handleOffset = 0;
    }
};
bool OrderProbeDialog::s_trapTheEnd = false;

TEST(FrameworkDialog, EndModalReadsTheWindowBeforeItPublishesTheEnd) {
    {
        OrderProbeDialog::s_trapTheEnd = false;
        OrderProbeDialog finder;
        ASSERT_EQ(finder.DoModal(), IDCANCEL);
    }
    ASSERT_NE(g_handleOffset, 0u) << "the window handle was not found in the dialog object";

    SYSTEM_INFO system = {};
    GetSystemInfo(&system);
    g_trap = PageTrap{};
    g_trap.pageSize = system.dwPageSize;
    auto* region = static_cast<BYTE*>(VirtualAlloc(nullptr, 2 * g_trap.pageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(region, nullptr);
    g_trap.handlePage = region;
    g_trap.endPage = region + g_trap.pageSize;
    BYTE* place = g_trap.endPage - (g_handleOffset + sizeof(HWND));
    ASSERT_EQ(reinterpret_cast<uintptr_t>(place) % alignof(OrderProbeDialog), 0u);
    ASSERT_LE(place + sizeof(OrderProbeDialog), region + 2 * g_trap.pageSize);

    void* handler = AddVectoredExceptionHandler(1, OnPageTrap);
    ASSERT_NE(handler, nullptr);
    OrderProbeDialog::s_trapTheEnd = true;
    auto* dialog = new (place) OrderProbeDialog();
    const INT_PTR result = dialog->DoModal();
    dialog->~OrderProbeDialog();
    RemoveVectoredExceptionHandler(handler);
    VirtualFree(region, 0, MEM_RELEASE);

    EXPECT_EQ(result, IDOK);
    EXPECT_TRUE(g_trap.endWritten) << "the end state did not lie on the trapped page";
    EXPECT_FALSE(g_trap.handleReadAfterEnd) << "the window handle was read after the end was published";
}

}  // namespace
