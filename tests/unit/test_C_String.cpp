#include <gtest/gtest.h>

#include <string>

#include "Assert.h"
#include "C_String.h"
#include "TestSupport.h"
#include "WideAPI.h"

namespace
{
std::string s_assertion;
void RecordAssertion(const char* condition, const char*, int)
{
    s_assertion = condition;
}
} // namespace

TEST(C_String, UnassignedStringReadsAsEmptyTextNeverNull)
{
    C_String s;
    EXPECT_STREQ("", s.GetNarrow());
    EXPECT_STREQ("", s.GetNarrowTemp());
    EXPECT_STREQ(L"", s.GetWide());
    EXPECT_STREQ("", s.Right(3));
    EXPECT_EQ(0u, s.Length());
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(nullptr, s.Find("x"));
}

TEST(C_String, EqualsNullIsTrueExactlyWhenNoFormIsHeld)
{
    C_String s("text");
    EXPECT_FALSE(s.Equals((const char*)NULL));
    s = (const char*)NULL;
    EXPECT_TRUE(s.Equals((const char*)NULL));
    EXPECT_TRUE(s.Equals((const wchar_t*)NULL));
    EXPECT_EQ(0u, s.Length());

    // An empty text is still a form.
    s = "";
    EXPECT_FALSE(s.Equals((const char*)NULL));
    EXPECT_TRUE(s.Equals(""));
}

TEST(C_String, EqualsIgnoresCaseAcrossForms)
{
    C_String narrow("Zaph.INI");
    C_String wide(L"zaph.ini");
    EXPECT_TRUE(narrow.Equals("ZAPH.ini"));
    EXPECT_TRUE(narrow.Equals(L"zaph.INI"));
    EXPECT_TRUE(wide.Equals("ZAPH.INI"));
    EXPECT_TRUE(narrow.Equals(wide));
    EXPECT_TRUE(wide.Equals(narrow));
    EXPECT_FALSE(narrow.Equals("Zaph.in"));
    EXPECT_FALSE(narrow.Equals(C_String("Zaph.IN")));
    // An argument that is itself the shared conversion result.
    EXPECT_FALSE(wide.Equals(W2A(L"other.ini")));
    EXPECT_FALSE(narrow.Equals(A2W("other.ini")));
}

TEST(C_String, GetNarrowKeepsTheConvertedCopyTempDoesNot)
{
    C_String s(L"Fernwick");
    ASSERT_FALSE(s.HasNarrow());
    const char* kept = s.GetNarrow();
    EXPECT_TRUE(s.HasNarrow() && s.HasWide());
    EXPECT_EQ(kept, s.GetNarrow());
    W2A(L"something else entirely");
    EXPECT_STREQ("Fernwick", kept) << "other conversions leave the kept copy";

    C_String w(L"wide");
    EXPECT_STREQ("wide", w.GetNarrowTemp());
    EXPECT_FALSE(w.HasNarrow());
    C_String n("narrow");
    EXPECT_STREQ(L"narrow", n.GetWide());
    EXPECT_FALSE(n.HasWide());
}

// Whatever forms a string holds before an append, both forms read the whole
// text after it.
TEST(C_String, AppendsReadTheSameInBothForms)
{
    enum Start { NARROW, WIDE, BOTH, UNSET };
    const struct { Start start; const char* appended; bool appendWide; const char* expected; } rows[] = {
        { NARROW, "cd", true, "abcd" },
        { WIDE, "cd", false, "abcd" },
        { BOTH, "cd", false, "abcd" },
        { BOTH, "cd", true, "abcd" },
        { UNSET, "copy", false, "copy" },
        { NARROW, NULL, false, "ab" },
        { WIDE, "", true, "ab" },
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::to_string(row.start) + (row.appended ? row.appended : "(null)"));
        C_String s;
        if (row.start == NARROW || row.start == BOTH)
            s = "ab";
        if (row.start == WIDE)
            s = L"ab";
        if (row.start == BOTH)
            s.GetWide();
        if (row.appendWide)
            s += row.appended ? std::wstring(row.appended, row.appended + strlen(row.appended)).c_str() : NULL;
        else
            s += row.appended;
        EXPECT_EQ(strlen(row.expected), s.Length());
        EXPECT_STREQ(row.expected, s.GetNarrowTemp());
        EXPECT_STREQ(A2W(row.expected), s.GetWide());
    }
    C_String unchanged("keep");
    unchanged += C_String();
    EXPECT_STREQ("keep", unchanged.GetNarrowTemp());

    // The appended text lives in the very buffer that converting this
    // string's own form would overwrite.
    C_String wideLeft(L"left-");
    wideLeft += W2A(L"right");
    EXPECT_STREQ("left-right", wideLeft.GetNarrowTemp());
    C_String narrowLeft("left-");
    narrowLeft += A2W("right");
    EXPECT_STREQ(L"left-right", narrowLeft.GetWide());

    // A C_String appended in the other form, and a string appended to itself.
    C_String wide(L"C:\\Zaph");
    wide += C_String("\\Log");
    EXPECT_STREQ(L"C:\\Zaph\\Log", wide.GetWide());
    EXPECT_EQ(11u, wide.Length());
    C_String narrow("C:\\Zaph");
    narrow += C_String(L"\\Log");
    EXPECT_STREQ("C:\\Zaph\\Log", narrow.GetNarrowTemp());
    C_String self("ab");
    self += self;
    EXPECT_STREQ("abab", self.GetNarrowTemp());
    EXPECT_EQ(4u, self.Length());
}

TEST(C_String, CopiesOwnTheirBuffers)
{
    C_String original(L"first");
    original.GetNarrow();
    C_String copy(original);
    C_String assigned;
    assigned = original;
    original = "changed";
    EXPECT_STREQ("first", copy.GetNarrowTemp());
    EXPECT_STREQ(L"first", copy.GetWide());
    EXPECT_STREQ("first", assigned.GetNarrowTemp());
    EXPECT_TRUE(copy.HasNarrow() && copy.HasWide());

    assigned = assigned;
    EXPECT_STREQ("first", assigned.GetNarrowTemp());

    // Assigning a text that lies inside the string itself.
    C_String tail("abcdef");
    tail = tail.GetNarrow() + 3;
    EXPECT_STREQ("def", tail.GetNarrowTemp());
}

TEST(C_String, ReplaceChangesOnlyTheFirstPlaceCaseSensitively)
{
    struct Row { const char* text; const char* search; const char* replacement; const char* expected; };
    const Row rows[] = {
        { "<Lang>\\data_<Lang>.mdb", "<Lang>", "DE", "DE\\data_<Lang>.mdb" },
        { "data_<lang>.mdb", "<Lang>", "DE", "data_<lang>.mdb" },
        { "<MS>\\db.mdb", "<MS>", "LU_New", "LU_New\\db.mdb" },
        { "x<MS>y<MS>", "<MS>", "LONGER_TEXT", "xLONGER_TEXTy<MS>" },
        { "V<ExeVersion>", "<ExeVersion>", "2.1.0.5", "V2.1.0.5" },
        { "no placeholder", "<MS>", "LU", "no placeholder" },
        { "<MS>", "<MS>", "", "" },
        { "<MS>", NULL, "LU", "<MS>" },
        { "<MS>", "<MS>", NULL, "<MS>" },
        { "<MS>", "", "LU", "<MS>" },
    };
    for (const Row& row : rows)
    {
        C_String s(row.text);
        s.Replace(row.search, row.replacement, 1);
        EXPECT_STREQ(row.expected, s.GetNarrowTemp()) << row.text << " " << (row.search ? row.search : "(null)");
        EXPECT_EQ(strlen(row.expected), s.Length()) << row.text;
    }

    C_String wide(L"<MS>_New");
    wide.Replace("<MS>", "LU", 1);
    EXPECT_FALSE(wide.HasWide()) << "works on the narrow form";
    EXPECT_STREQ("LU_New", wide.GetNarrowTemp());
    C_String empty;
    empty.Replace("<MS>", "LU", 1);
    EXPECT_TRUE(empty.Equals((const char*)NULL));
}

TEST(C_String, RightTrimRightAndFind)
{
    C_String s("Zaph.exe");
    EXPECT_STREQ(".exe", s.Right(4));
    EXPECT_STREQ("Zaph.exe", s.Right(8));
    EXPECT_STREQ("Zaph.exe", s.Right(100));
    EXPECT_STREQ("", s.Right(0));
    EXPECT_STREQ(".exe", C_String(L"Zaph.exe").Right(4));

    C_String spaces("value \t\r\n");
    spaces.TrimRight(0);
    EXPECT_STREQ("value", spaces.GetNarrowTemp());
    EXPECT_EQ(5u, spaces.Length());
    C_String slashes("C:\\Zaph\\\\");
    slashes.TrimRight('\\');
    EXPECT_STREQ("C:\\Zaph", slashes.GetNarrowTemp());
    C_String wideOnly(L"C:\\Zaph\\");
    wideOnly.TrimRight('\\');
    EXPECT_STREQ(L"C:\\Zaph", wideOnly.GetWide());
    EXPECT_EQ(7u, wideOnly.Length());

    C_String path("C:\\Zaph\\zaph.ini");
    EXPECT_STREQ("zaph.ini", path.Find("zaph"));
    EXPECT_EQ(nullptr, path.Find("ZAPH.INI"));
    EXPECT_EQ(nullptr, path.Find(NULL));
    EXPECT_EQ(nullptr, C_String(L"C:\\Zaph").Find(W2A(L"other")));
}

TEST(C_String, AllocateGivesAWritableEmptyBufferOfTheKind)
{
    C_String s("old");
    ASSERT_TRUE(s.Allocate(10, C_String::NARROW));
    EXPECT_EQ(10u, s.Length());
    ASSERT_NE(nullptr, s.NarrowBuffer());
    EXPECT_STREQ("", s.NarrowBuffer());
    strcpy(s.NarrowBuffer(), "filled");
    s.UpdateLength();
    EXPECT_EQ(6u, s.Length());

    ASSERT_TRUE(s.Allocate(4, C_String::WIDE));
    EXPECT_FALSE(s.HasNarrow());
    EXPECT_STREQ(L"", s.WideBuffer());
    EXPECT_FALSE(s.Allocate(0, C_String::NARROW));

    AssertionHandler previous = SetAssertionHandler(RecordAssertion);
    s_assertion.clear();
    EXPECT_FALSE(s.Allocate(5, 3));
    SetAssertionHandler(previous);
    EXPECT_EQ("false", s_assertion);
    EXPECT_EQ(0u, s.Length());
}

TEST(C_String, FormatFromMessageFillsInserts)
{
    C_String s;
    ASSERT_TRUE(s.FormatFromMessage("%2 before %1", "one", "two"));
    EXPECT_STREQ("two before one", s.GetNarrowTemp());
    EXPECT_FALSE(s.FormatFromMessage(NULL));
}
