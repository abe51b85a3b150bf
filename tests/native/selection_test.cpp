// qvinstall's entry selection: which names a pattern takes, and what the
// driver is told to do with each entry of a solid archive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/selection.h"

namespace {

TEST(SelectionTest, PatternsMatchNamesAsWindowsWould) {
    struct Case {
        const char* pattern;
        const char* name;
        bool selects;
    };
    const Case cases[] = {
        {"QRVNL.EXE", "QRVNL.EXE", true},
        {"qrvnl.exe", "QRVNL.EXE", true},        // either case
        {"QRVNL.EX", "QRVNL.EXE", false},        // the whole name
        {"RVNL.EXE", "QRVNL.EXE", false},
        {"*.HLP", "HELP\\DE\\QRVNL.HLP", true},  // '*' crosses separators
        {"*.hlp", "QRVNL.EXE", false},
        {"help/de/qrvnl.hlp", "HELP\\DE\\QRVNL.HLP", true},  // either separator
        {"HELP\\*", "HELP\\QRVNL.HLP", true},
        {"?RVNL.EXE", "QRVNL.EXE", true},
        {"??RVNL.EXE", "QRVNL.EXE", false},      // '?' is exactly one
        {"Q*L*.E?E", "QRVNL.EXE", true},         // a '*' gives back what it took
        {"*", "", true},
        {"", "A", false},
        {"HELP", "HELP\\DE\\QRVNL.HLP", true},   // a directory selects what is in it
        {"HEL", "HELP\\QRVNL.HLP", false},
        {"help/de", "HELP\\DE\\QRVNL.HLP", true},
        {"DE", "HELP\\DE\\QRVNL.HLP", false},    // from the top only
    };
    for (const Case& c : cases) EXPECT_EQ(c.selects, PatternSelects(c.pattern, c.name)) << c.pattern << " / " << c.name;
}

TEST(SelectionTest, SolidStateIsKeptUpToTheLastSelectedEntryAndNoFurther) {
    const EntrySelection I = kSelectInstall, D = kSelectDecodeOnly, P = kSelectPassOver, S = kSelectStop;
    // A solid run A B C, a fresh start E, its solid follower F, a directory G, H not solid.
    const std::vector<SelectionEntry> entries = {
        {"A", true, false}, {"B", true, true}, {"C", true, true}, {"E", true, false},
        {"F", true, true},  {"G", false, false}, {"H", true, false},
    };
    struct Case {
        std::vector<std::string> patterns;
        std::vector<EntrySelection> plan;
        std::vector<bool> used;
    };
    const std::vector<Case> cases = {
        {{}, {I, I, I, I, I, I, I}, {}},
        {{"C"}, {D, D, I, S, S, S, S}, {true}},
        {{"B"}, {D, I, S, S, S, S, S}, {true}},
        {{"A"}, {I, S, S, S, S, S, S}, {true}},
        {{"F"}, {P, P, P, D, I, S, S}, {true}},  // the run before E is not needed
        {{"H"}, {P, P, P, P, P, P, I}, {true}},
        {{"E", "nosuch", "a"}, {I, P, P, I, S, S, S}, {true, false, true}},
    };
    for (size_t i = 0; i < cases.size(); i++) {
        std::vector<bool> used;
        EXPECT_EQ(cases[i].plan, PlanSelection(cases[i].patterns, entries, &used)) << i;
        EXPECT_EQ(cases[i].used, used) << i;
    }
}

}  // namespace
