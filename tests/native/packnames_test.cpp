// Names as Windows will see them: what the packer refuses, converts and
// warns about when it collects a tree, and the character-set conversion
// beneath it.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "install/charset.h"
#include "pack/archivewriter.h"
#include "pack/names.h"
#include "pack/progressline.h"
#include "support/archive_builder.h"

namespace {

void Touch(const std::string& path, const char* content = "x") {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fputs(content, f);
    fclose(f);
}

std::string Stored(const std::string& name, uint32_t codePage = kDefaultCodePage) {
    std::string stored, error;
    return StoredNameOf(name, codePage, &stored, &error) ? stored : "refused: " + error;
}

TEST(Charset, ConvertsBetweenTheLocaleAndTheCodePages) {
    char out[64];
    size_t length, at;
    // The tests run in the C locale, whose names are taken as UTF-8.
    ASSERT_EQ(kCharsetDone, ConvertCharset(kCharsetLocale, 1252, "\xC3\x9Cn", 3, out, sizeof out, &length, &at));
    EXPECT_EQ(std::string("\xDCn"), std::string(out, length));
    ASSERT_EQ(kCharsetDone, ConvertCharset(850, kCodePageUtf8, "\x9A", 1, out, sizeof out, &length, &at));
    EXPECT_EQ(std::string("\xC3\x9C"), std::string(out, length));  // the OEM code page's 'Ü'
    // A character the code page lacks, and where it stands.
    EXPECT_EQ(kCharsetUnmappable, ConvertCharset(kCodePageUtf8, 1252, "ab\xC5\x82", 4, out, sizeof out, &length, &at));
    EXPECT_EQ(2u, at);
    EXPECT_EQ(kCharsetNoRoom, ConvertCharset(kCodePageUtf8, 1252, "abcd", 4, out, 4, &length, &at));
    EXPECT_EQ(kCharsetUnknown, ConvertCharset(kCodePageUtf8, 4, "a", 1, out, sizeof out, &length, &at));

    for (uint32_t cp : {1250u, 1251u, 1252u, 437u, 850u}) EXPECT_TRUE(IsSingleByteCodePage(cp)) << cp;
    // A trail byte of a double-byte code page may be '\'; UTF-8 is no code
    // page of the A calls' kind; EBCDIC moves ASCII.
    for (uint32_t cp : {932u, 65001u, 37u, 0u, 4u}) EXPECT_FALSE(IsSingleByteCodePage(cp)) << cp;
}

TEST(PackNames, WhatWindowsCannotCreateIsRefusedWithTheNameAndWhy) {
    EXPECT_EQ("DIR\\plain.txt", Stored("DIR\\plain.txt"));
    for (const char* bad : {"what?.txt", "a<b", "a>b", "a\"b", "a|b", "star*", "DIR\\c:d", "tab\tname", "bell\x07",
                            "trail.", "trail ", "dir.\\x.txt", "dir \\x.txt", "..\\x"}) {
        std::string r = Stored(bad);
        EXPECT_EQ(0u, r.find("refused: ")) << bad;
        EXPECT_NE(std::string::npos, r.find("Windows")) << bad << ": " << r;
    }
    // A control character is shown, not sent to the terminal.
    EXPECT_NE(std::string::npos, Stored("tab\tname").find("tab\\x09name"));
    // Devices the installer's own rule does not know.
    EXPECT_NE(std::string::npos, Stored("COM\xC2\xB9.txt").find("device")) << Stored("COM\xC2\xB9.txt");
    EXPECT_NE(std::string::npos, Stored("dir\\lpt\xC2\xB3").find("device"));
    // Spaces before the extension do not hide one.
    EXPECT_NE(std::string::npos, Stored("COM\xC2\xB9 .txt").find("device")) << Stored("COM\xC2\xB9 .txt");
    EXPECT_EQ("COM\xB9x.txt", Stored("COM\xC2\xB9x.txt"));
    // What the installer refuses already: devices, dots only, empty parts.
    for (const char* bad : {"CON", "dir\\lpt1.txt", "a\\\\b", ""})
        EXPECT_NE(std::string::npos, Stored(bad).find("installer refuses")) << bad;
    // Dots and spaces inside a name are fine.
    EXPECT_EQ("v1..2 final.txt", Stored("v1..2 final.txt"));
}

TEST(PackNames, NamesAreStoredInTheCodePageOrRefused) {
    // German, French and the Polish letters that Western European holds.
    EXPECT_EQ("Gr\xF6\xDF" "e.txt", Stored("Gr\xC3\xB6\xC3\x9F" "e.txt"));
    EXPECT_EQ("\xC9l\xE8ve\\W\xF3zek.txt", Stored("\xC3\x89l\xC3\xA8ve\\W\xC3\xB3zek.txt"));
    // A Polish letter outside it: refused, naming the letter; Central
    // European holds it.
    std::string refused = Stored("\xC5\x81\xC3\xB3" "d\xC5\xBA.txt");
    EXPECT_NE(std::string::npos, refused.find("code page 1252 has no character for '\xC5\x81'")) << refused;
    EXPECT_EQ("\xA3\xF3" "d\x9F.txt", Stored("\xC5\x81\xC3\xB3" "d\xC5\xBA.txt", 1250));
    // Bytes that are no UTF-8 are not taken for some other name.
    EXPECT_NE(std::string::npos, Stored("M\xE4rz.txt").find("locale's character set"));
    // The stored length counts, not the UTF-8 one: 200 two-byte letters fit.
    std::string wide;
    for (int i = 0; i < 200; i++) wide += "\xC3\xA4";
    EXPECT_EQ(200u, Stored(wide).size());
    EXPECT_NE(std::string::npos, Stored(wide + wide).find("longer than 259"));
}

TEST(PackNames, CaseIsFoldedInEveryAlphabetTheCodePageHolds) {
    EXPECT_EQ(FoldedStoredName("a\xE4.TXT", 1252), FoldedStoredName("A\xC4.txt", 1252));
    EXPECT_NE(FoldedStoredName("a\xE4.TXT", 1252), FoldedStoredName("A\xC5.txt", 1252));
    EXPECT_EQ(FoldedStoredName("\xB3" "odz", 1250), FoldedStoredName("\xA3" "ODZ", 1250));  // l-stroke

    std::string dir = qvtest::MakeTempDir("fold");
    Touch(dir + "/\xC3\x84rger.txt");
    Touch(dir + "/\xC3\xA4rger.txt");
    std::vector<PackSource> sources;
    std::string error;
    EXPECT_FALSE(CollectSources(dir, "", -1, &sources, &error));
    EXPECT_NE(std::string::npos, error.find("named twice")) << error;
}

TEST(PackNames, CollectingATreeTellsWhatIsNotDelivered) {
    std::string dir = qvtest::MakeTempDir("collect");
    mkdir((dir + "/Fran\xC3\xA7" "ais").c_str(), 0755);
    mkdir((dir + "/empty").c_str(), 0755);
    mkdir((dir + "/nested").c_str(), 0755);
    mkdir((dir + "/nested/hollow").c_str(), 0755);
    Touch(dir + "/Fran\xC3\xA7" "ais/\xC3\x89l\xC3\xA8ve.txt", "eleve");
    Touch(dir + "/target.txt", "linked");
    ASSERT_EQ(0, symlink("target.txt", (dir + "/link.txt").c_str()));
    ASSERT_EQ(0, symlink("Fran\xC3\xA7" "ais", (dir + "/alias").c_str()));
    std::vector<PackSource> sources;
    std::vector<std::string> warnings;
    std::string error;
    CollectOptions options;
    options.Warnings = &warnings;
    ASSERT_TRUE(CollectSources(dir, "", -1, &sources, &error, options)) << error;
    std::vector<std::string> names;
    for (const PackSource& s : sources) names.push_back(s.Name);
    // Links are followed: the file and the directory they name, as copies.
    EXPECT_EQ((std::vector<std::string>{"Fran\xE7" "ais\\\xC9l\xE8ve.txt", "alias\\\xC9l\xE8ve.txt", "link.txt",
                                        "target.txt"}),
              names);
    EXPECT_EQ(6u, sources[2].Size);
    ASSERT_EQ(2u, warnings.size());
    EXPECT_NE(std::string::npos, warnings[0].find(dir + "/empty: an empty directory is not delivered"));
    EXPECT_NE(std::string::npos, warnings[1].find(dir + "/nested/hollow: an empty directory"));

    // A link back to a directory above it would never end.
    ASSERT_EQ(0, symlink("..", (dir + "/Fran\xC3\xA7" "ais/up").c_str()));
    EXPECT_FALSE(CollectSources(dir, "", -1, &sources, &error, options));
    EXPECT_NE(std::string::npos, error.find("(a loop)")) << error;
    // So is a link to itself; a link to nothing cannot be read.
    unlink((dir + "/Fran\xC3\xA7" "ais/up").c_str());
    ASSERT_EQ(0, symlink("self", (dir + "/self").c_str()));
    EXPECT_FALSE(CollectSources(dir, "", -1, &sources, &error, options));
    EXPECT_NE(std::string::npos, error.find("self")) << error;
}

TEST(PackNames, PathsTooLongUnderTheDefaultTargetAreWarnedOnce) {
    // "C:\Program Files\Quorvanel\" takes 27 characters: a directory part of
    // 220 makes 247, the most Windows creates.
    std::string fits(220, 'd'), over(221, 'd');
    std::vector<std::string> warnings;
    WarnLongStoredPaths({fits + "\\a", fits.substr(0, 100) + "\\b"}, &warnings);
    EXPECT_TRUE(warnings.empty());
    WarnLongStoredPaths({over + "\\a", over + "\\b", "short\\" + std::string(227, 'n')}, &warnings);
    ASSERT_EQ(2u, warnings.size());
    EXPECT_NE(std::string::npos, warnings[0].find("248 characters, more than the 247")) << warnings[0];
    EXPECT_NE(std::string::npos, warnings[1].find("260 characters, more than the 259")) << warnings[1];
    EXPECT_NE(std::string::npos, warnings[0].find("C:\\Program Files\\Quorvanel")) << warnings[0];
}

int64_t gNow;
int64_t FakeClock() { return gNow; }

TEST(PackProgress, RedrawsAtMostTenTimesASecond) {
    FILE* sink = fopen("/dev/null", "w");
    ASSERT_NE(nullptr, sink);
    // 68 MB reported every 64 KB over 20 seconds: 1,088 reports.
    ProgressLine line = StartProgressLine(sink, "packing");
    line.Clock = FakeClock;
    const uint64_t total = 68000000, step = 65536;
    gNow = 0;
    uint32_t reports = 0;
    for (uint64_t done = step; done < total + step; done += step, reports++) {
        gNow = static_cast<int64_t>(done * 20000 / total);
        UpdateProgressLine(&line, done < total ? done : total, total);
    }
    EXPECT_GT(reports, 1000u);
    EXPECT_LE(line.Redraws, 20 * 10 + 2u);
    EXPECT_GE(line.Redraws, 20 * 10 / 2u);  // and it does not stall
    EXPECT_EQ(1000, line.LastPermille);  // the finished state is always drawn
    // A clock that stands still: the first and the last drawing only.
    EndProgressLine(&line);
    line.Redraws = 0;
    for (uint64_t done = 0; done <= total; done += step) UpdateProgressLine(&line, done, total);
    UpdateProgressLine(&line, total, total);
    EXPECT_EQ(2u, line.Redraws);
    fclose(sink);
}

}  // namespace
