// The resources of both built launchers (x86_64 beside the tests, and the i686 one that ships),
// read back from the executables as data and compared field by field with what the launcher must
// carry.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "tests/support/dialog_template.h"
#include "tests/support/test_paths.h"

namespace {

using qarv::test::DialogItem;
using qarv::test::DialogTemplate;

struct Launcher {
    std::wstring path;
    const char* manifestArchitecture;
};

std::vector<Launcher> Launchers() {
    std::vector<Launcher> launchers{{qarv::test::LauncherPath(), "amd64"}};
    const std::string i686 = QARV_I686_LAUNCHER;
    if (!i686.empty()) launchers.push_back({qarv::test::FromUnixPath(i686), "x86"});
    return launchers;
}

class LauncherResources : public ::testing::TestWithParam<Launcher> {
protected:
    void SetUp() override {
        m_module.reset(LoadLibraryExW(GetParam().path.c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        ASSERT_TRUE(m_module.valid()) << "cannot load " << std::string(GetParam().path.begin(), GetParam().path.end());
    }

    std::vector<BYTE> Resource(LPCWSTR type, LPCWSTR name) {
        HRSRC info = FindResourceExW(m_module.get(), type, name, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        if (info == nullptr) return {};
        HGLOBAL loaded = LoadResource(m_module.get(), info);
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(loaded));
        return std::vector<BYTE>(bytes, bytes + SizeofResource(m_module.get(), info));
    }

    DialogTemplate Dialog(WORD id) {
        const std::vector<BYTE> bytes = Resource(reinterpret_cast<LPCWSTR>(RT_DIALOG), MAKEINTRESOURCEW(id));
        DialogTemplate dialog;
        EXPECT_TRUE(qarv::test::ParseDialogTemplateEx(bytes.data(), bytes.size(), dialog)) << "template " << id;
        return dialog;
    }

    std::wstring String(UINT id) {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(m_module.get(), id, reinterpret_cast<wchar_t*>(&text), 0);
        return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
    }

    qarv::UniqueModule m_module;
};

void ExpectItem(const DialogItem& item, DWORD id, WORD classOrdinal, const wchar_t* className, const wchar_t* title,
                DWORD style, short x, short y, short cx, short cy) {
    SCOPED_TRACE(id);
    EXPECT_EQ(item.id, id);
    if (className == nullptr) {
        EXPECT_TRUE(item.windowClass.isOrdinal);
        EXPECT_EQ(item.windowClass.ordinal, classOrdinal);
    } else {
        EXPECT_FALSE(item.windowClass.isOrdinal);
        EXPECT_EQ(item.windowClass.text, className);
    }
    EXPECT_FALSE(item.title.isOrdinal);
    EXPECT_EQ(item.title.text, title);
    EXPECT_EQ(item.style, style);
    EXPECT_EQ(item.exStyle, 0u);
    EXPECT_EQ(item.x, x);
    EXPECT_EQ(item.y, y);
    EXPECT_EQ(item.cx, cx);
    EXPECT_EQ(item.cy, cy);
}

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

TEST_P(LauncherResources, ProgressDialogTemplate) {
    const DialogTemplate dialog = Dialog(102);
    EXPECT_EQ(dialog.style, 0x90C000C8u);
    EXPECT_EQ(dialog.exStyle, 0x00040000u);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 320);
    EXPECT_EQ(dialog.cy, 65);
    EXPECT_TRUE(dialog.menu.text.empty() && !dialog.menu.isOrdinal);
    EXPECT_TRUE(dialog.windowClass.text.empty() && !dialog.windowClass.isOrdinal);
    EXPECT_EQ(dialog.caption, L"QarvPro 2009 Setup");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 0);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 1);
    EXPECT_EQ(dialog.typeface, L"MS Shell Dlg");
    ASSERT_EQ(dialog.items.size(), 3u);
    ExpectItem(dialog.items[0], 1002, kButtonClass, nullptr, L"Cancel", 0x58010001, 258, 43, 55, 18);
    ExpectItem(dialog.items[1], 1000, kStaticClass, nullptr, L"Initializing", 0x50020000, 7, 7, 156, 8);
    ExpectItem(dialog.items[2], 1001, 0, L"msctls_progress32", L"", 0x50800000, 7, 20, 306, 16);
}

TEST_P(LauncherResources, NoticeDialogTemplate) {
    const DialogTemplate dialog = Dialog(131);
    EXPECT_EQ(dialog.style, 0x80C800C8u);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.cx, 314);
    EXPECT_EQ(dialog.cy, 54);
    EXPECT_EQ(dialog.caption, L"QarvPro 2009");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 1);
    EXPECT_EQ(dialog.typeface, L"MS Shell Dlg");
    ASSERT_EQ(dialog.items.size(), 3u);
    ExpectItem(dialog.items[0], 1004, kButtonClass, nullptr, L"Ti\u1EBFp t\u1EE5c", 0x50010001, 130, 32, 54, 17);
    ExpectItem(dialog.items[1], 1003, kStaticClass, nullptr, String(504).c_str(), 0x50020001, 32, 12, 276, 13);
    ExpectItem(dialog.items[2], 1005, kStaticClass, nullptr, L"", 0x50000003, 7, 8, 21, 20);
}

TEST_P(LauncherResources, StringTableIsExact) {
    // Written with escapes so that this file does not depend on the compiler's source encoding.
    EXPECT_EQ(String(500), L"C\u00F3 l\u1ED7i trong qu\u00E1 tr\u00ECnh c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!");
    EXPECT_EQ(String(501), L"Kh\u1EDFi t\u1EA1o m\u00F4i tr\u01B0\u1EDDng");
    EXPECT_EQ(String(504), L"B\u1EA1n \u0111\u01B0\u1EE3c mi\u1EC5n ph\u00ED n\u00E2ng c\u1EA5p l\u00EAn phi\u00EAn b\u1EA3n m\u1EDBi QarvPro 2009 Internet Security OEM");
    EXPECT_EQ(String(505), L"B\u1EA1n \u0111\u01B0\u1EE3c mi\u1EC5n ph\u00ED n\u00E2ng c\u1EA5p l\u00EAn phi\u00EAn b\u1EA3n m\u1EDBi QarvPro 2009 Internet Security");
    EXPECT_EQ(String(506), L"Kh\u00F4ng \u0111\u1EE7 dung l\u01B0\u1EE3ng tr\u1ED1ng tr\u00EAn \u1ED5 \u0111\u0129a \u0111\u1EC3 th\u1EF1c hi\u1EC7n c\u00E0i \u0111\u1EB7t. B\u1EA1n h\u00E3y th\u1EED l\u1EA1i sau!");
    EXPECT_EQ(String(507), L"M\u00E1y t\u00EDnh c\u1EE7a b\u1EA1n \u0111\u00E3 \u0111\u01B0\u1EE3c c\u00E0i s\u1EB5n QarvPro 2009 Internet Security,\n"
                           L"\u0111\u1EC3 k\u00EDch ho\u1EA1t b\u1EA1n c\u00F3 th\u1EC3 b\u1EA5m v\u00E0o bi\u1EC3u t\u01B0\u1EE3ng h\u00ECnh c\u00E1i khi\u00EAn c\u00F3 ch\u1EEF th\u1EADp m\u00E0u \u0111\u1ECF \u1EDF b\u00EAn d\u01B0\u1EDBi.");
    EXPECT_EQ(String(508), L"QarvPro 2009 Internet Security has already been installed on your computer.\n"
                           L"Click on the shield symbol with a red cross inside at the bottom right of the screen to start.");
    EXPECT_EQ(String(512), L"Hu\u1EF7 b\u1ECF");
    EXPECT_EQ(String(502), L"") << "no other string in the table";
}

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

TEST_P(LauncherResources, IconGroupHasTheTwoImages) {
    const std::vector<BYTE> group = Resource(reinterpret_cast<LPCWSTR>(RT_GROUP_ICON), MAKEINTRESOURCEW(128));
    ASSERT_GE(group.size(), 6u + 2 * sizeof(GroupIconEntry));
    WORD count = 0;
    memcpy(&count, group.data() + 4, sizeof(count));
    ASSERT_EQ(count, 2);
    GroupIconEntry entries[2];
    memcpy(entries, group.data() + 6, sizeof(entries));
    EXPECT_EQ(entries[0].width, 32);
    EXPECT_EQ(entries[0].height, 32);
    EXPECT_EQ(entries[0].bitCount, 8);  // 256 colours
    EXPECT_EQ(entries[1].width, 64);
    EXPECT_EQ(entries[1].height, 64);
    EXPECT_EQ(entries[1].bitCount, 32);
    for (const GroupIconEntry& entry : entries) {
        EXPECT_EQ(Resource(reinterpret_cast<LPCWSTR>(RT_ICON), MAKEINTRESOURCEW(entry.id)).size(), entry.bytesInResource);
    }
}

TEST_P(LauncherResources, ManifestAsksForAdministratorAndCommonControls6) {
    const std::vector<BYTE> bytes = Resource(reinterpret_cast<LPCWSTR>(RT_MANIFEST), MAKEINTRESOURCEW(1));
    const std::string manifest(bytes.begin(), bytes.end());
    EXPECT_NE(manifest.find("level=\"requireAdministrator\" uiAccess=\"false\""), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"" +
                            std::string(GetParam().manifestArchitecture) + "\""),
              std::string::npos);
}

TEST_P(LauncherResources, VersionResource) {
    const std::wstring& path = GetParam().path;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);

    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    EXPECT_EQ(LOWORD(*translation), 0x0409);
    EXPECT_EQ(HIWORD(*translation), 1252);

    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", L"Qarv"},
        {L"FileDescription", L"QarvPro 2009 Setup"},
        {L"FileVersion", L"1.0.0.1"},
        {L"InternalName", L"QarvPro 2009 Setup"},
        {L"OriginalFilename", L"QarvPro 2009 Setup.exe"},
        {L"ProductName", L"QarvPro 2009 Internet Security"},
        {L"ProductVersion", L"1.0.0.1"},
    };
    for (const auto& [name, expected] : strings) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904e4\\") + name;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) << query.size();
        EXPECT_STREQ(value, expected);
    }
    wchar_t* legal = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904e4\\LegalCopyright", reinterpret_cast<void**>(&legal), &length));
    EXPECT_GT(wcslen(legal), 0u);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
    reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
    return TRUE;
}
BOOL CALLBACK CollectNames(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context) {
    EnumResourceLanguagesW(module, type, name, CollectLanguage, context);
    return TRUE;
}
BOOL CALLBACK CollectTypes(HMODULE module, LPWSTR type, LONG_PTR context) {
    EnumResourceNamesW(module, type, CollectNames, context);
    return TRUE;
}

TEST_P(LauncherResources, EveryResourceIsEnglishUnitedStates) {
    std::vector<WORD> languages;
    EnumResourceTypesW(m_module.get(), CollectTypes, reinterpret_cast<LONG_PTR>(&languages));
    ASSERT_FALSE(languages.empty());
    for (WORD language : languages) EXPECT_EQ(language, 1033);
}

INSTANTIATE_TEST_SUITE_P(Built, LauncherResources, ::testing::ValuesIn(Launchers()),
                         [](const ::testing::TestParamInfo<Launcher>& info) {
                             return std::string(info.param.manifestArchitecture);
                         });

}  // namespace
