#include <gtest/gtest.h>

#include "host/command_line/options.h"

namespace {

TEST(Options, ReadsEveryOptionInBothSpellingsAndThePositionalFiles) {
    const Options options = ParseOptions({"--plugin", "p.auf", "--set", "Y(offs)=12", "--set=F16=1", "in.y4m",
                                          "--compare=c.png", "--max-w", "2000", "--stats", "--quiet", "-"});
    EXPECT_EQ(options.plugin, "p.auf");
    EXPECT_EQ(options.settings, (std::vector<std::string>{"Y(offs)=12", "F16=1"}));
    EXPECT_EQ(options.compare, "c.png");
    EXPECT_EQ(options.maxWidth, 2000);
    EXPECT_TRUE(options.stats && options.quiet);
    EXPECT_FALSE(options.describe || options.help);
    EXPECT_EQ(options.input, "in.y4m");
    EXPECT_EQ(options.output, "-");
    EXPECT_EQ(ParseOptions({"--", "--odd-name.png"}).input, "--odd-name.png");
    EXPECT_TRUE(ParseOptions({"--describe", "--plugin=p.auf"}).describe);
    EXPECT_EQ(ParseOptions({"--set", "F16=1", "--set", "F16=0", "--settings", "a", "--settings", "a"}).settings.size(),
              2u);
    EXPECT_TRUE(ParseOptions({"--probe"}).probe);
    EXPECT_TRUE(ParseOptions({}).input.empty());
    const Options range = ParseOptions({"--frames", "0:1", "--jobs=3"});
    EXPECT_EQ(range.firstFrame, 0);
    EXPECT_EQ(range.frameCount, 1);
    EXPECT_EQ(range.jobs, 3);
}

TEST(Options, RefusesMalformedCommandLinesWithTheReason) {
    const struct {
        std::vector<std::string> arguments;
        std::string message;
    } cases[] = {
        {{"--bogus"}, "unknown option --bogus"},
        {{"-x"}, "unknown option -x"},
        {{"--set"}, "--set needs a value"},
        {{"--plugin="}, "--plugin needs a value"},
        {{"--max-w", "0"}, "--max-w 0: expected a row length from 1 to 20480"},
        {{"--max-w", "12a"}, "--max-w 12a: expected a row length"},
        {{"--max-w", "99999999999"}, "--max-w 99999999999: expected a row length"},
        {{"--max-w", "20481"}, "--max-w 20481: expected a row length"},
        {{"--stats=1"}, "--stats takes no value"},
        {{"--probe=1"}, "--probe takes no value"},
        {{"a", "b", "c"}, "too many arguments: c"},
        {{""}, "empty file name"},
        {{"--cube-size", "17"}, "--cube-size needs --cube"},
        {{"--cube", "a.cube", "--cube-size", "66"}, "--cube-size 66: expected a size from 2 to 65"},
        {{"--port", "8080"}, "--port needs --preview"},
        {{"--preview", "--port", "0"}, "--port 0: expected a port from 1 to 65535"},
        {{"--preview", "in.y4m", "out.y4m"}, "--preview shows its pictures in the browser"},
        {{"--cube", "a.cube", "in.png"}, "--cube and --save-settings write no frames"},
        {{"--save-settings", "s.txt", "--preview"}, "--preview saves from its page"},
        {{"--frames", "5"}, "--frames 5: expected FIRST:COUNT"},
        {{"--frames", "5:0"}, "--frames 5:0: expected FIRST:COUNT"},
        {{"--frames", "-1:2"}, "--frames -1:2: expected FIRST:COUNT"},
        {{"--frames", "1:2", "--preview"}, "--frames chooses frames to write"},
        {{"--jobs", "0"}, "--jobs 0: expected a number of jobs from 1 to 64"},
        {{"--jobs", "2", "--cube", "a.cube"}, "--jobs runs frames through several plug-ins"},
        // One value each: a second would silently win.
        {{"--compare", "a.png", "--compare=b.png"}, "--compare is given twice; it takes one value"},
        {{"--cube", "a.cube", "--cube", "a.cube"}, "--cube is given twice"},
        {{"--save-settings", "a", "--save-settings", "b"}, "--save-settings is given twice"},
        {{"--plugin", "a.auf", "--plugin", "b.auf"}, "--plugin is given twice"},
        {{"--preview", "--port", "1", "--port", "2"}, "--port is given twice"},
        {{"--max-w", "100", "--max-w", "200"}, "--max-w is given twice"},
        {{"--jobs", "1", "--jobs", "2"}, "--jobs is given twice"},
        // What a mode would ignore is refused.
        {{"--version", "in.y4m"}, "--version takes nothing else: drop in.y4m"},
        {{"--quiet", "--version"}, "--version takes nothing else: drop --quiet"},
        {{"--describe", "--set", "F16=1"}, "--describe takes only --plugin: drop --set"},
        {{"--plugin", "p.auf", "--describe", "in.y4m"}, "--describe takes only --plugin: drop in.y4m"},
        {{"--cube", "a.cube", "--max-w", "100"}, "--cube and --save-settings write no frames: drop --max-w"},
        {{"--save-settings", "s.txt", "--max-w=100"}, "--cube and --save-settings write no frames: drop --max-w"},
    };
    for (const auto& c : cases) {
        try {
            ParseOptions(c.arguments);
            ADD_FAILURE() << c.arguments[0] << ": no error, expected \"" << c.message << "\"";
        } catch (const UsageError& error) {
            EXPECT_EQ(std::string(error.what()).compare(0, c.message.size(), c.message), 0)
                << c.arguments[0] << ": expected \"" << c.message << "\", got \"" << error.what() << "\"";
        }
    }
}

}  // namespace
