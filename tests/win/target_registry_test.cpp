// The default target against the real registry and Windows directory.
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "base/context.h"
#include "install/fileops.h"
#include "install/target.h"

namespace {

void DeleteTargetKey() { RegDeleteKeyA(HKEY_CURRENT_USER, TARGET_KEY_NAME); }

void SetRawValue(DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, TARGET_KEY_NAME, 0, NULL, 0,
                                             KEY_WRITE, NULL, &key, NULL));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, TARGET_VALUE_NAME, 0, type,
                                            static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

// The parent of the Windows directory with its backslash: C:\ under Wine.
std::string WindowsParent() {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    CutLastComponent(windows);
    AddTrailingBackslash(windows);
    return windows;
}

struct RegistryTargetTest : ::testing::Test {
    struct {
        char Buffer[kPathSize];
        char Guard[16];
    } path;
    std::string programme;

    void SetUp() override {
        DeleteTargetKey();
        programme = WindowsParent() + "Programme";
        RemoveProgramme();
        memset(&path, 'x', sizeof path);
    }
    void TearDown() override {
        DeleteTargetKey();
        RemoveProgramme();
    }
    void RemoveProgramme() {
        RemoveDirectoryA(programme.c_str());
        DeleteFileA(programme.c_str());
    }
    std::string Default() {
        GetDefaultTarget(path.Buffer);
        EXPECT_EQ(0, memcmp(path.Guard, "xxxxxxxxxxxxxxxx", sizeof path.Guard));
        return path.Buffer;
    }
    std::string ProgramFilesDefault() { return WindowsParent() + "Program Files\\Quorvanel"; }
};

TEST_F(RegistryTargetTest, WithoutKeyTheDefaultFollowsProgramme) {
    EXPECT_EQ(ProgramFilesDefault(), Default());
    ASSERT_TRUE(CreateDirectoryA(programme.c_str(), NULL));
    EXPECT_EQ(WindowsParent() + "Programme\\Quorvanel", Default());
    // Nothing is created on disk by asking.
    EXPECT_NE(0, CheckFileExists((programme + "\\Quorvanel").c_str()));
    ASSERT_TRUE(RemoveDirectoryA(programme.c_str()));

    // A plain file named Programme selects it all the same.
    HANDLE file = CreateFileA(programme.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_EQ(WindowsParent() + "Programme\\Quorvanel", Default());
}

TEST_F(RegistryTargetTest, StoredValueWinsEvenWhenTheDirectoryIsGone) {
    SetRawValue(REG_SZ, "E:\\Tools\\Q", 11);
    EXPECT_EQ("E:\\Tools\\Q", Default());
    // The key without the value is as good as no key.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, TARGET_KEY_NAME, 0, KEY_WRITE, &key));
    RegDeleteValueA(key, TARGET_VALUE_NAME);
    RegCloseKey(key);
    EXPECT_EQ(ProgramFilesDefault(), Default());
}

TEST_F(RegistryTargetTest, EmptyOrOverlongValueFallsBackToTheDefault) {
    SetRawValue(REG_SZ, "", 1);
    EXPECT_EQ(ProgramFilesDefault(), Default());
    std::string overlong(300, 'L');
    SetRawValue(REG_SZ, overlong.c_str(), static_cast<DWORD>(overlong.size() + 1));
    EXPECT_EQ(ProgramFilesDefault(), Default());
}

TEST_F(RegistryTargetTest, ValueStoredWithoutNulStaysInsideTheBuffer) {
    SetRawValue(REG_SZ, "E:\\Tools\\Q", 10);
    EXPECT_EQ("E:\\Tools\\Q", Default());
    // Exactly a buffer full and no NUL: too long to be a path.
    std::string full(kPathSize, 'F');
    SetRawValue(REG_SZ, full.data(), kPathSize);
    EXPECT_EQ(ProgramFilesDefault(), Default());
}

TEST_F(RegistryTargetTest, RelativeValueFallsBackToTheDefault) {
    const char* relative[] = {"qv-rel\\sub", "C:foo", "\\foo"};
    for (const char* value : relative) {
        SetRawValue(REG_SZ, value, static_cast<DWORD>(strlen(value) + 1));
        EXPECT_EQ(ProgramFilesDefault(), Default()) << value;
    }
}

TEST_F(RegistryTargetTest, StoredTargetReadsBackExactlyAsStored) {
    const char* typed[] = {"D:\\Apps\\Q dir", "C:\\X\\", "c:\\mixed/Case "};
    for (const char* target : typed) {
        StoreTarget(target);
        EXPECT_EQ(target, Default());

        char raw[kPathSize];
        DWORD type = 0, size = sizeof raw;
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_CURRENT_USER, TARGET_KEY_NAME, 0, KEY_READ, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, TARGET_VALUE_NAME, NULL, &type,
                                                  reinterpret_cast<BYTE*>(raw), &size));
        RegCloseKey(key);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ(strlen(target) + 1, size) << "the NUL is stored with the text";
    }
}

// What the dialog makes of a typed target before anything is done on disk.
std::string Resolved(const std::string& typed) {
    // A full path left from before, which a call that did not fit leaves.
    char full[kPathSize + 1];
    memset(full, 'x', sizeof full);
    memcpy(full, "C:\\stale", 9);
    if (!ResolveTypedTarget(typed.c_str(), full)) return "(refused)";
    EXPECT_EQ('x', full[kPathSize]) << "written past the path";
    return full;
}

TEST(TypedTargetTest, RelativeTargetsAreRefusedBeforeTheCurrentDirectoryIsAsked) {
    char current[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(MAX_PATH, current));
    const char* relative[] = {"qv-rel\\sub", "C:foo", "\\foo", ".", "..\\up", " C:\\x", "C:/x"};
    for (const char* typed : relative) EXPECT_EQ("(refused)", Resolved(typed)) << typed;
    // Nothing was made where the relative one would have pointed.
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("qv-rel"));
}

TEST(TypedTargetTest, FullTargetIsMadeAbsoluteAsTheFileCallsWouldTakeIt) {
    EXPECT_EQ("C:\\Program Files\\Quorvanel", Resolved("C:\\Program Files\\Quorvanel"));
    EXPECT_EQ("C:\\X\\", Resolved("C:\\X\\"));
    EXPECT_EQ("C:\\b", Resolved("C:\\a\\..\\b"));
    EXPECT_EQ("C:\\a\\b", Resolved("C:\\a\\.\\b"));
    EXPECT_EQ("C:\\", Resolved("C:\\..\\.."));
    // What the file calls would drop anyway: doubled separators, trailing
    // blanks and dots, forward slashes.
    EXPECT_EQ("C:\\Q dir", Resolved("C:\\\\Q dir. "));
    EXPECT_EQ("C:\\a\\b", Resolved("C:\\a/b"));
    EXPECT_EQ("\\\\server\\share\\dir", Resolved("\\\\server\\share\\dir"));
}

TEST(TypedTargetTest, TargetLongerThanAPathIsRefusedNotCut) {
    std::string longest = "C:\\" + std::string(kPathSize - 4, 'L');
    ASSERT_EQ(259u, longest.size());
    EXPECT_EQ(longest, Resolved(longest));
    EXPECT_EQ("(refused)", Resolved(longest + "M"));
    EXPECT_EQ("(refused)", Resolved(longest + std::string(100, 'M')));
    // Made shorter by its dots, a long text would fit: it is refused all the
    // same, for it is not what a path can be typed as.
    EXPECT_EQ("(refused)", Resolved("C:\\a\\..\\" + std::string(kPathSize - 4, 'L')));
}

}  // namespace
