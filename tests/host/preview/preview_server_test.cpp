// The preview server's gate and parameters, and its one-slot mailbox,
// without a browser or a socket.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "host/preview/preview_server.h"

namespace {

TEST(PreviewServer, LetsInOnlyLoopbackHostsOfItsPortWithTheToken) {
    const std::string token = NewToken();
    ASSERT_EQ(token.size(), 32u);
    EXPECT_NE(token, NewToken());
    const std::string wrong = std::string(31, '0') + "1", shorter = token.substr(1);
    const struct {
        std::string host;
        const std::string* token;
        int status;  // 0: let in
    } cases[] = {
        {"127.0.0.1:8080", &token, 0},
        {"localhost:8080", &token, 0},
        {"LocalHost:8080", &token, 0},
        {"127.0.0.1:8080", nullptr, 403},
        {"127.0.0.1:8080", &wrong, 403},
        {"127.0.0.1:8080", &shorter, 403},
        {"127.0.0.1:8081", &token, 403},   // another server's port
        {"127.0.0.1", &token, 403},        // no port
        {"evil.example:8080", &token, 403},  // a rebound name
        {"localhost.evil.example:8080", &token, 403},
        {"127.0.0.1:8080.evil", &token, 403},
        {"", &token, 403},
    };
    for (const auto& c : cases) {
        const auto refusal = CheckAccess(c.host, c.token, token, 8080);
        EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.host << (c.token ? "" : " without token");
    }
    EXPECT_NE(CheckAccess("127.0.0.1:8080", nullptr, token, 8080)->reason.find("token"), std::string::npos);
}

TEST(PreviewServer, ChecksPictureParametersWithClearAnswers) {
    PictureQuery query;
    EXPECT_FALSE(ParsePictureQuery({{"token", "t"}, {"frame", "4"}, {"view", "before"}, {"download", "1"}}, 5, query));
    EXPECT_EQ(query.frame, 4);
    EXPECT_FALSE(query.filtered);
    EXPECT_TRUE(query.download);
    EXPECT_FALSE(ParsePictureQuery({}, 1, query));
    EXPECT_EQ(query.frame, 0);
    EXPECT_TRUE(query.filtered);
    const struct {
        QueryParameters parameters;
        std::string reason;
    } cases[] = {
        {{{"frame", "5"}}, "frame=5: expected a frame number from 0 to 4"},
        {{{"frame", "-1"}}, "frame=-1: expected"},
        {{{"frame", "1x"}}, "frame=1x: expected"},
        {{{"frame", ""}}, "frame=: expected"},
        {{{"frame", "99999999999999"}}, "frame=99999999999999: expected"},
        {{{"frame", "1"}, {"frame", "2"}}, "the parameter \"frame\" is given twice"},
        {{{"view", "sideways"}}, "view=sideways: expected after or before"},
        {{{"download", "yes"}}, "download=yes: expected 1"},
        {{{"path", "/etc/passwd"}}, "unknown parameter \"path\""},
    };
    for (const auto& c : cases) {
        const auto refusal = ParsePictureQuery(c.parameters, 5, query);
        ASSERT_TRUE(refusal) << c.reason;
        EXPECT_EQ(refusal->status, 400);
        EXPECT_EQ(refusal->reason.compare(0, c.reason.size(), c.reason), 0) << refusal->reason;
    }
}

TEST(PreviewServer, TheNewestPictureWinsTheMailboxSlot) {
    RenderMailbox mailbox;
    const auto submit = [&](int frame) {
        return std::async(std::launch::async, [&mailbox, frame] {
            RenderJob job;
            job.frame = frame;
            RenderResult result;
            const RenderMailbox::Outcome outcome = mailbox.Submit(job, result);
            return std::make_pair(outcome, result.png);
        });
    };
    auto first = submit(1);
    RenderJob taken;
    ASSERT_TRUE(mailbox.Take(taken, std::chrono::seconds(10)));
    EXPECT_EQ(taken.frame, 1);
    // While frame 1 renders, two more arrive: only the newer is kept.
    auto second = submit(2);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    auto third = submit(3);
    EXPECT_EQ(second.get().first, RenderMailbox::Outcome::kSuperseded);
    mailbox.Deliver(RenderResult{true, "one", "", 0, 0});
    EXPECT_EQ(first.get(), std::make_pair(RenderMailbox::Outcome::kDone, std::string("one")));
    ASSERT_TRUE(mailbox.Take(taken, std::chrono::seconds(10)));
    EXPECT_EQ(taken.frame, 3);
    mailbox.Deliver(RenderResult{true, "three", "", 0, 0});
    EXPECT_EQ(third.get(), std::make_pair(RenderMailbox::Outcome::kDone, std::string("three")));
    EXPECT_FALSE(mailbox.Take(taken, std::chrono::milliseconds(1)));
    auto waiting = submit(4);
    mailbox.Stop();
    EXPECT_EQ(waiting.get().first, RenderMailbox::Outcome::kStopped);
}

TEST(PreviewServer, StateNamesTheControlsAndTheEquivalentCommand) {
    PreviewInfo info;
    info.description.name = "kelo \"q\"";
    info.description.tracks = {{"R(gain)", -256, 256, 0}, {"it's", 0, 9, 3}};
    info.description.checks = {{"F16", 0}};
    info.inputName = "my clip.y4m";
    info.frames = 3;
    const std::string json = StateJson(info, FilterSettings{{64, 4}, {1}}, 7);
    for (const char* part : {"\"name\":\"kelo \\\"q\\\"\"",
                             "{\"name\":\"R(gain)\",\"min\":-256,\"max\":256,\"default\":0}",
                             "\"track\":[64,4]", "\"check\":[1]", "\"version\":7", "\"frames\":3",
                             // A quote in a name survives the shell, and the JSON.
                             "\"command\":\"kelo-host --set 'R(gain)=64' --set 'it'\\\\''s=4' --set F16=1 "
                             "'my clip.y4m' kelo-out.y4m\""}) {
        EXPECT_NE(json.find(part), std::string::npos) << part << " missing from " << json;
    }
}

}  // namespace
