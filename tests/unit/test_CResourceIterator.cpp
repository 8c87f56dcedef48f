// The component line grammar and the walk over a component section, on real
// settings files (ANSI and UTF-16).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CResource.h"
#include "CResourceIterator.h"
#include "Log.h"
#include "TestSupport.h"

namespace
{
// One component as "name|value|keyword:value:kind,...".
std::string Describe(CComponent& c)
{
    std::string text = std::string(c.m_name.GetNarrow()) + "|" + c.m_value.GetNarrow() + "|";
    for (unsigned i = 0; i < c.m_ruleCount; ++i)
    {
        char kind[16];
        sprintf(kind, "%lX", (unsigned long)c.m_rules[i].kind);
        text += std::string(c.m_rules[i].keyword.GetNarrow()) + ":" + c.m_rules[i].value.GetNarrow() + ":" + kind +
                (i + 1 < c.m_ruleCount ? "," : "");
    }
    return text;
}

// Walks [Components] of a settings file made of the given parts.
// An empty tail makes [Components] the section that runs to the end of the file.
std::vector<std::string> Walk(const std::string& settings, const std::string& components, bool utf16,
                              const std::string& tail)
{
    fwtest::TempDir dir("fwcomp");
    std::string text = "[Settings]\r\nX=1\r\n" + settings + "\r\n[Labels_EN]\r\nA=B\r\n[CheckSums]\r\nx=0\r\n[Additional]\r\ny\r\n"
                       "[Components]\r\n" + components + tail;
    EXPECT_TRUE(fwtest::WriteBytes(dir.File("Zaph.ini"), utf16 ? fwtest::Utf16File(text) : text));
    CResource resource;
    EXPECT_TRUE(resource.Load(dir.File("Zaph.ini").c_str()));
    CResourceIterator it(&resource, SECTION_COMPONENTS);
    std::vector<std::string> out;
    while (CComponent* c = it.Next())
    {
        out.push_back(Describe(*c));
        delete c;
    }
    return out;
}

typedef std::vector<std::string> Lines;
} // namespace

TEST(ComponentGrammar, LinesBecomeComponents)
{
    SetLogFile("");
    const char* tail = "[Extra]\r\nz\r\n";
    struct Row
    {
        const char* settings;
        std::string components;
        Lines expected;
    } rows[] = {
        {"ExeVersion=2.1.0.5",
         "  data\\<MS>\\<Lang>\\a.mdb = V1.0.0.0 ; IfExists = x.txt ; Then = $SKIP$ \r\n", {"data\\<MS>\\<Lang>\\a.mdb|V1.0.0.0|IfExists:x.txt:1,Then:$SKIP$:200"}},
        {"", "plain.txt\r\n", {"plain.txt||"}},
        {"", "a.txt=;;Source==b.zip\r\n", {"a.txt||Source:b.zip:2"}},
        {"", "a=1;IfNotExists=p;Multi=m;Extension=.mdb;Else=$SKIP$;Source=s\r\n",
         {"a|1|IfNotExists:p:100,Multi:m:80,Extension:.mdb:40,Else:$SKIP$:400"}},
        {"", "a=1;MS=any;MS=DE;Foo=bar;Source\r\n", {"a|1|MS:any:20,MS:DE:10,Foo:bar:0"}},
        {"ExeVersion=2.1.0.5", "a.exe=V<ExeVersion>\r\nb.exe=<ExeVersion>;Source=<ExeVersion>\r\n",
         {"a.exe|V2.1.0.5|", "b.exe|2.1.0.5|Source:<ExeVersion>:2"}},
        {"", "a.exe=V<ExeVersion>\r\n", {"a.exe|V|"}},
        {"ExeVersion=12345678901234567890123456789012", "a.exe=V<ExeVersion>\r\n", {"a.exe|V|"}},
        // Blank lines and indentation make no components.
        {"", "a\r\n\r\n   \r\n\t b = 1 \r\n\r\n", {"a||", "b|1|"}},
        // The last line before the next section is returned whatever stands
        // before its line end.
        {"", "a=1\r\nb=2   \r\n", {"a|1|", "b|2|"}},
        {"", "a=1\nb=2\t \n", {"a|1|", "b|2|"}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.components);
        EXPECT_EQ(row.expected, Walk(row.settings, row.components, false, tail));
        EXPECT_EQ(row.expected, Walk(row.settings, row.components, true, tail));
    }
    // The section that runs to the end of the file: its last line needs no line end.
    EXPECT_EQ(Lines({"a|1|", "b|2|"}), Walk("", "a=1\r\nb=2", false, ""));
    EXPECT_EQ(Lines({"a|1|", "b|2|"}), Walk("", "a=1\r\nb=2  \r\n\r\n", true, ""));
}

TEST(ComponentGrammar, ParseRulesStartsAfreshAndToleratesNothing)
{
    CComponent c;
    c.ParseRules("Source=a;Multi=b");
    EXPECT_EQ(2u, c.m_ruleCount);
    c.ParseRules(NULL);
    EXPECT_EQ("||", Describe(c));
    c.ParseRules(" ; = ;; ");
    EXPECT_EQ(0u, c.m_ruleCount);
    EXPECT_TRUE(c.m_rules[0].keyword.IsEmpty());
}
