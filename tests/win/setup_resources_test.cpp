// The resources of the built installer program, read back from setup.exe the
// way the dialog manager and the shell read them: the install dialog
// template byte for byte, and the icon as the system decodes it.
#include <windows.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>

#include "base/format.h"
#include "resources/resource.h"

namespace {

const WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);  // 0x0407

// setup.exe of the same build: ui/ beside this program's tests/ directory.
std::string SetupPath() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string s(path, length);
    s.resize(s.find_last_of("\\/") + 1);
    return s + "..\\ui\\setup.exe";
}

class SetupResources : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryExA(SetupPath().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module_ != NULL) << "cannot load " << SetupPath() << " as data";
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    // The resource in German (Germany) only, or the language given: another
    // language would be a different resource to the loader.
    const uint8_t* Find(LPCSTR type, WORD id, DWORD* size, WORD language = kGerman) {
        HRSRC found = FindResourceExA(module_, type, MAKEINTRESOURCEA(id), language);
        if (!found) return NULL;
        *size = SizeofResource(module_, found);
        return static_cast<const uint8_t*>(LockResource(LoadResource(module_, found)));
    }
    HMODULE module_ = NULL;
};

// Walks an extended dialog template.
struct TemplateReader {
    const uint8_t* base;
    size_t size;
    size_t pos;
    bool overrun;

    uint16_t U16() {
        if (pos + 2 > size) { overrun = true; return 0; }
        uint16_t v;
        memcpy(&v, base + pos, 2);
        pos += 2;
        return v;
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }
    uint8_t U8() {
        if (pos + 1 > size) { overrun = true; return 0; }
        return base[pos++];
    }
    // A UTF-16 string of plain ASCII text, as the template holds it.
    std::string Text() {
        std::string s;
        for (uint16_t c = U16(); c != 0 && !overrun; c = U16())
            s += c < 0x80 ? static_cast<char>(c) : '?';
        return s;
    }
    // Name or ordinal: "" for none, "#N" for an ordinal, else the name.
    std::string NameOrOrdinal() {
        if (pos + 2 > size) { overrun = true; return ""; }
        uint16_t first;
        memcpy(&first, base + pos, 2);
        if (first == 0xFFFF) {
            pos += 2;
            return "#" + std::to_string(U16());
        }
        return Text();
    }
    void AlignDword() { pos = (pos + 3) & ~static_cast<size_t>(3); }
};

struct ItemExpectation {
    int32_t id;
    const char* className;  // ordinal of the predefined class
    const char* text;
    int16_t x, y, cx, cy;
    uint32_t style;
};

TEST_F(SetupResources, InstallDialogTemplateIsTheOneTheInstallerNeeds) {
    DWORD size = 0;
    const uint8_t* data = Find(RT_DIALOG, IDD_INSTALL, &size);
    ASSERT_TRUE(data != NULL) << "no German dialog " << IDD_INSTALL;
    TemplateReader r = {data, size, 0, false};

    EXPECT_EQ(1, r.U16()) << "template version";
    EXPECT_EQ(0xFFFF, r.U16()) << "extended template signature";
    EXPECT_EQ(0u, r.U32()) << "help id";
    EXPECT_EQ(static_cast<uint32_t>(WS_EX_TOPMOST), r.U32());
    uint32_t style = r.U32();
    EXPECT_EQ(0x90C000C4u, style);
    EXPECT_EQ(0u, style & WS_SYSMENU) << "no system menu, so no close button";
    uint16_t count = r.U16();
    EXPECT_EQ(5, count);
    int16_t x = r.U16(), y = r.U16(), cx = r.U16(), cy = r.U16();
    EXPECT_EQ(0, x);
    EXPECT_EQ(0, y);
    EXPECT_EQ(270, cx);
    EXPECT_EQ(82, cy);
    EXPECT_EQ("", r.NameOrOrdinal()) << "menu";
    EXPECT_EQ("", r.NameOrOrdinal()) << "dialog class";
    EXPECT_EQ("  Setup ZT Quorvanel Lite", r.Text());
    EXPECT_EQ(8, r.U16()) << "point size";
    EXPECT_EQ(0, r.U16()) << "weight";
    EXPECT_EQ(0, r.U8()) << "italic";
    EXPECT_EQ(1, r.U8()) << "character set";
    EXPECT_EQ("MS Sans Serif", r.Text());
    ASSERT_FALSE(r.overrun);

    const ItemExpectation items[] = {
        {-1, "#130", "Install to:", 10, 35, 45, 10, 0x50000000u},
        {IDC_TARGET, "#129", "", 60, 34, 204, 12, 0x50810080u},
        {IDC_STATUS, "#130", "", 10, 47, 253, 10, 0x50000000u},
        {IDOK, "#128", "OK", 7, 61, 124, 14, 0x50010000u},
        {IDCANCEL, "#128", "Exit", 138, 61, 124, 14, 0x50010000u},
    };
    for (int i = 0; i < 5 && i < count; i++) {
        SCOPED_TRACE("control " + std::to_string(i));
        const ItemExpectation& e = items[i];
        r.AlignDword();
        EXPECT_EQ(0u, r.U32()) << "help id";
        EXPECT_EQ(0u, r.U32()) << "extended style";
        EXPECT_EQ(e.style, r.U32());
        int16_t ix = r.U16(), iy = r.U16(), icx = r.U16(), icy = r.U16();
        EXPECT_EQ(e.x, ix);
        EXPECT_EQ(e.y, iy);
        EXPECT_EQ(e.cx, icx);
        EXPECT_EQ(e.cy, icy);
        EXPECT_EQ(static_cast<uint32_t>(e.id), r.U32()) << "identifier";
        EXPECT_EQ(e.className, r.NameOrOrdinal()) << "class (128 Button, 129 Edit, 130 Static)";
        EXPECT_EQ(e.text, r.NameOrOrdinal());
        EXPECT_EQ(0, r.U16()) << "creation data";
        ASSERT_FALSE(r.overrun);
    }
    r.AlignDword();
    EXPECT_LE(r.pos, static_cast<size_t>(size)) << "the template ends within the resource";
}

// The mark qvpack looks for before it appends an archive: its 8 bytes,
// nothing more, whatever the user's language.
TEST_F(SetupResources, CarriesTheInstallerMark) {
    DWORD size = 0;
    const uint8_t* mark = Find(RT_RCDATA, IDR_INSTALLER_MARK, &size, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    ASSERT_TRUE(mark != NULL) << "no language-neutral RCDATA " << IDR_INSTALLER_MARK;
    ASSERT_EQ(static_cast<DWORD>(kInstallerMarkSize), size);
    EXPECT_EQ(0, memcmp(mark, kInstallerMark, kInstallerMarkSize));
}

TEST_F(SetupResources, IconIsOne32By32SixteenColourImageWithMask) {
    DWORD size = 0;
    const uint8_t* group = Find(RT_GROUP_ICON, IDI_SETUP, &size);
    ASSERT_TRUE(group != NULL) << "no German icon group " << IDI_SETUP;
    ASSERT_GE(size, 6u + 14u);
    uint16_t header[3];
    memcpy(header, group, sizeof header);
    EXPECT_EQ(0, header[0]);
    EXPECT_EQ(1, header[1]) << "an icon, not a cursor";
    ASSERT_EQ(1, header[2]) << "exactly one image";
    const uint8_t* entry = group + 6;
    EXPECT_EQ(32, entry[0]);
    EXPECT_EQ(32, entry[1]);
    EXPECT_EQ(16, entry[2]) << "colours";
    uint16_t planes, bits, imageId;
    uint32_t bytes;
    memcpy(&planes, entry + 4, 2);
    memcpy(&bits, entry + 6, 2);
    memcpy(&bytes, entry + 8, 4);
    memcpy(&imageId, entry + 12, 2);
    EXPECT_EQ(1, planes);
    EXPECT_EQ(4, bits);

    DWORD imageSize = 0;
    const uint8_t* image = Find(RT_ICON, imageId, &imageSize);
    ASSERT_TRUE(image != NULL) << "icon image " << imageId;
    // Header, 16-entry palette, 4-bit colour rows, 1-bit mask rows.
    const DWORD expected = 40 + 16 * 4 + 32 * 32 / 2 + 32 * 4;
    ASSERT_EQ(expected, imageSize);
    EXPECT_EQ(expected, bytes);
    BITMAPINFOHEADER info;
    memcpy(&info, image, sizeof info);
    EXPECT_EQ(32, info.biWidth);
    EXPECT_EQ(64, info.biHeight) << "colour and mask";
    EXPECT_EQ(4, info.biBitCount);

    // A picture, not a blank: several colours and a real outline.
    const uint8_t* pixels = image + 40 + 64;
    const uint8_t* mask = pixels + 512;
    bool used[16] = {};
    int opaque = 0;
    for (int row = 0; row < 32; row++) {
        for (int col = 0; col < 32; col++) {
            uint8_t pair = pixels[row * 16 + col / 2];
            bool transparent = (mask[row * 4 + col / 8] >> (7 - col % 8)) & 1;
            if (!transparent) {
                opaque++;
                used[col % 2 ? (pair & 15) : (pair >> 4)] = true;
            }
        }
    }
    int colours = 0;
    for (bool u : used) colours += u;
    EXPECT_GE(colours, 5);
    EXPECT_GT(opaque, 32 * 32 / 3);
    EXPECT_LT(opaque, 32 * 32) << "some pixels are transparent";

    HICON icon = CreateIconFromResourceEx(const_cast<uint8_t*>(image), imageSize, TRUE, 0x00030000,
                                          32, 32, LR_DEFAULTCOLOR);
    EXPECT_TRUE(icon != NULL) << "the system does not accept the image";
    if (icon) DestroyIcon(icon);
}

}  // namespace
