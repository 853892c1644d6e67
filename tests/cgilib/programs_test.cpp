// The three programs run as a web server runs them: a board directory as the working
// directory, the CGI environment, the body on standard input; the whole response compared.
#include <string>

#include <gtest/gtest.h>

#include "board.h"

using namespace std::string_literals;
using zt_test::Environment;
using zt_test::RunOptions;

namespace {

const std::string header = "Content-type: text/html\n\n";

const char *template_of(const std::string &program)
{
    return program == "zt-write" ? "zt/zt-write.htm"
         : program == "zt-view"  ? "zt/zt-view.htm"
                                 : "zt/zt-read.htm";
}

// A board directory holding one page template for the program.
struct Page {
    zt_test::TempDir dir;
    std::string program;

    Page(const std::string &program_, const std::string &page) : program(program_)
    {
        zt_test::MakeDir(dir / "zt");
        zt_test::WriteFile(dir / template_of(program), page);
    }

    zt_test::Run post(const std::string &body, Environment environment = {}) const
    {
        environment.emplace_back("CONTENT_LENGTH", std::to_string(body.size()));
        return zt_test::RunProgram(program, {dir.path(), environment, body});
    }

    zt_test::Run get(const std::string &query, Environment environment = {}) const
    {
        environment.emplace_back("QUERY_STRING", query);
        return zt_test::RunProgram(program, {dir.path(), environment, ""});
    }
};

TEST(ErrorPage, MissingTemplateOfEachProgram)
{
    for (const char *program : {"zt-write", "zt-view", "zt-read"}) {
        zt_test::TempDir dir;
        const auto run = zt_test::RunProgram(program, {dir.path(), {{"CONTENT_LENGTH", "0"}}, ""});
        EXPECT_EQ(run.status, 1) << program;
        EXPECT_EQ(run.out, header + zt_test::ErrorPage("Can't open "s + template_of(program))) << program;
    }
}


// Every directive of the full variant in one page. Callback numbers outside the write
// page's table (it has two) call nothing.
TEST(WriteProgram, ExpandsEveryDirective)
{
    Page page("zt-write",
              "<a href=\"x\x01|namae,four,none|\">\x01{namae}</a>\r\n"
              "<input value='\x01{four}'>\x01%namae%\n"
              "\x01[REMOTE_ADDR]\x01[UNSET_VAR]\n"
              "\x01/confirm/1/#/ (check only)#\x01/confirm/0/#/ (post)#\n"
              "\x01(7)\x01(-1)\x01{abcdefghijklmnopqrstuvwxyz}\x01q.\n");
    const auto run = page.post("namae=A%26B+%22it's%22&four=%3C%3E'&none=", {{"REMOTE_ADDR", "<1>"}});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, header +
                           "<a href=\"x?namae=A%26B%20%22it%27s%22&four=%3c%3e%27\">"
                           "A&#38;B &#34;it&#39;s&#34;</a>\n"
                           "<input value='&#60;&#62;&#39;'>A%26B%20%22it%27s%22\n"
                           "&#60;1&#62;\n"
                           " (post)\n"
                           ".\n");
}

TEST(WriteProgram, ConditionalSectionsOnPresence)
{
    Page page("zt-write", "\x01/confirm/1/#/check#\x01/confirm/0/$/post$\x01/confirm/2/%/always%");
    EXPECT_EQ(page.post("confirm=").out, header + "checkalways");
    EXPECT_EQ(page.post("x=1").out, header + "postalways");
}

// The intake's decoding rules, seen through the page.
TEST(WriteProgram, DecodesTheBody)
{
    Page page("zt-write", "[\x01{a}|\x01{b}]");
    const struct {
        std::string body;
        std::string shown;
    } cases[] = {
        {"a=1+2%2B3&b=%41%4", "[1 2+3|A4]"},
        {"a=x%0D%0Ay%0D%0A&b=x%0D%0D%0Ay", "[x\ny|x\n\ny]"},
        {"a=\xA4\xA2z&b=%zz", "[z|zz]"},
        {"a=%00b&b=%26%3D", "[|&#38;=]"},
        {"abc&b=1&a=2", "[2|]"},
        {"a=1&&b=2", "[1|]"},
        {"a=b=c&b", "[b=c|]"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(page.post(c.body).out, header + c.shown) << c.body;
}

TEST(WriteProgram, BodyShorterThanAnnounced)
{
    Page page("zt-write", "[\x01{a}]");
    const auto run = zt_test::RunProgram("zt-write", {page.dir.path(), {{"CONTENT_LENGTH", "500"}}, "a=12"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, header + "[12]");
}

TEST(WriteProgram, TemplateEndingInsideASection)
{
    Page page("zt-write", "a\x01/x/2/#/b\x01/y/2/$/c");
    EXPECT_EQ(page.post("").out, header + "abc");
}

TEST(WriteProgram, TemplateTextModeBytes)
{
    Page page("zt-write", "a\r\nb\x1a" "c");
    EXPECT_EQ(page.post("").out, header + "a\nb");
}

// The query-string variant, as zt-view and zt-read both carry it.
TEST(QueryPrograms, ExpandEveryDirectiveSafely)
{
    for (const char *program : {"zt-view", "zt-read"}) {
        Page page(program,
                  "<a href=\"?n=\x01%namae%\">\x01{namae}</a>\x01|namae,x,y|\n"
                  "\x01[REMOTE_ADDR]\x01/a/1/#/b#\x01(9)\x01{none}.\n");
        const auto run = page.get("namae=a%3Cb+c\"><script>&x=&y=1");
        EXPECT_EQ(run.status, 0) << program;
        EXPECT_EQ(run.out, header +
                               "<a href=\"?n=a%3Cb+c%22%3E%3Cscript%3E\">a&#60;b+c&#34;&#62;&#60;script&#62;</a>"
                               "?namae=a%3Cb+c%22%3E%3Cscript%3E&y=1\n"
                               "REMOTE_ADDR]a/1/#/b#.\n")
            << program;
    }
}

TEST(QueryPrograms, NoQueryStringAtAll)
{
    Page page("zt-view", "[\x01{a}\x01%a%\x01|a|]");
    const auto run = zt_test::RunProgram("zt-view", {page.dir.path(), {}, ""});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, header + "[]");
}

}  // namespace
