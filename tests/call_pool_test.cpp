// On a share a pass makes its calls side by side through a small pool: never more at once
// than the pool has threads, the same archives moved as one call at a time, a failing call
// reported while the others finish, and a stop that lets only the calls in flight finish.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "call_pool.h"
#include "memory_file_system.h"
#include "pass.h"
#include "test_support.h"

namespace lorvex {
namespace {

using testing::Call;
using testing::MemoryFileSystem;

constexpr int kArchives = 60;

struct Ran {
    std::int64_t moved = 0;
    std::vector<std::string> failures;  // in the order reported
    std::vector<std::string> destination;
    std::vector<std::string> search;
    bool operator==(const Ran&) const = default;
};

// Stops the pass at a name once the calls before it are held in flight, and tells the
// test it has.
class StopAt : public PassProgress {
public:
    StopAt(std::int64_t name, testing::Gate& gate, std::size_t held)
        : name_(name), gate_(gate), held_(held) {}
    bool ContinuePass(const PassStatus& status) override {
        if (status.listing || status.checked < name_) {
            return true;
        }
        EXPECT_TRUE(gate_.WaitUntilHeld(held_));
        stopped_.set_value();
        return false;
    }
    std::future<void> Stopped() { return stopped_.get_future(); }

private:
    std::int64_t name_;
    testing::Gate& gate_;
    std::size_t held_;
    std::promise<void> stopped_;
};

struct Case {
    const char* name;
    Transfer transfer;
    const char* destination;  // on the search folder's mount or on another
    bool Renames() const {
        return transfer == Transfer::Move && std::string_view(destination) == "/share/out/";
    }
    // The call that takes each archive out of the search folder first.
    Call First() const {
        return transfer == Transfer::Move ? Call::RenameNoReplace : Call::CopyToTemporary;
    }
};

// /share/search holds archives (a few empty, some folders) and the map also lists names
// that are not there; /share/out and /elsewhere/out are where they go.
void Build(MemoryFileSystem& files, std::string& map, bool remote) {
    files.AddFolder("/share/out");
    files.AddMount("/elsewhere");
    files.AddFolder("/elsewhere/out");
    std::string body;
    for (int i = 0; i < kArchives; ++i) {
        const std::string name = "a" + std::to_string(i);
        if (i % 7 == 3) {
            files.AddFile("/share/search/" + name + ".zip", "");
        } else if (i % 11 == 5) {
            files.AddFolder("/share/search/" + name + ".zip");
        } else if (i % 5 != 1) {
            files.AddFile("/share/search/" + name + ".zip", "bytes " + name);
        }
        body += name + "=Cat\n";
    }
    map = test::MapWithHeader(body);
    if (remote) {
        files.SetRemote("/share");
        files.SetRemote("/elsewhere");
    }
}

class OnAShare : public ::testing::TestWithParam<Case> {
protected:
    PassResult RunPass(MemoryFileSystem& over, PassProgress* progress = nullptr) {
        PassRequest request{"Cat", "/share/search/", GetParam().destination};
        request.transfer = GetParam().transfer;
        return Pass(over, map, request, progress).Run();
    }

    Ran Result(MemoryFileSystem& over, const PassResult& result) {
        Ran ran{result.moved, {}, over.Names(GetParam().destination), over.Names("/share/search")};
        for (const auto& failure : result.failed) {
            ran.failures.push_back(failure.archive + ": " + failure.reason);
        }
        return ran;
    }

    MemoryFileSystem files;
    std::string map;
};

TEST_P(OnAShare, MovesWhatOneCallAtATimeMoves) {
    MemoryFileSystem local;
    Build(local, map, false);
    Build(files, map, true);
    for (MemoryFileSystem* each : {&local, &files}) {
        each->FailCall(Call::StatusOf, "/a13.zip", {fs::Error::Io, "lost"});
        each->AddFile(std::string(GetParam().destination) + "a18.zip", "taken");
    }
    const Ran one = Result(local, RunPass(local));
    EXPECT_EQ(Result(files, RunPass(files)), one);
    EXPECT_EQ(one.failures.size(), 1U);  // a18 stays; a13 is not found
    EXPECT_GT(one.moved, 30);
    EXPECT_EQ(local.MaxCallsInFlight(), 1U);
}

TEST_P(OnAShare, NeverMoreCallsInFlightThanThePoolHasThreads) {
    Build(files, map, true);
    testing::Gate gate = files.Hold(GetParam().First(), "/share/search/");
    std::thread pass([&] { RunPass(files); });
    EXPECT_TRUE(gate.WaitUntilHeld(kCallsInFlightOnAShare));
    EXPECT_EQ(files.CallsInFlight(), kCallsInFlightOnAShare);
    gate.Release();
    pass.join();
    EXPECT_EQ(files.MaxCallsInFlight(), kCallsInFlightOnAShare);
}

TEST_P(OnAShare, OneFailingCallIsReportedAndTheOthersFinish) {
    Build(files, map, true);
    files.FailCall(GetParam().Renames() ? Call::RenameNoReplace : Call::CopyToTemporary, "/a8.zip",
                   {fs::Error::Io, "the network went away"});
    const Ran ran = Result(files, RunPass(files));
    EXPECT_EQ(ran.failures, std::vector<std::string>{"a8.zip: the network went away"});
    EXPECT_EQ(std::count(ran.search.begin(), ran.search.end(), "a8.zip"), 1);
    EXPECT_EQ(ran.destination.size(), static_cast<std::size_t>(ran.moved));
    EXPECT_GT(ran.moved, 30);
}

TEST_P(OnAShare, AStopLetsTheCallsInFlightFinishAndStartsNoOther) {
    Build(files, map, true);
    const std::size_t archives = files.Names("/share/search").size();
    testing::Gate gate = files.Hold(GetParam().First(), "/share/search/");
    // Stopped at a3, once a0 and a2 are on their way.
    StopAt progress(4, gate, 2);
    auto stopped = progress.Stopped();
    PassResult result;
    std::thread pass([&] { result = RunPass(files, &progress); });
    stopped.wait();
    gate.Release();
    pass.join();
    const Ran ran = Result(files, result);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(ran.failures.empty());
    EXPECT_EQ(files.CallCount(GetParam().First()), 2U);
    // A rename in flight is done; a copy in flight loses its temporary.
    EXPECT_EQ(ran.moved, GetParam().Renames() ? 2 : 0);
    EXPECT_EQ(ran.destination.size(), static_cast<std::size_t>(ran.moved));
    EXPECT_EQ(ran.search.size() + (GetParam().transfer == Transfer::Copy ? 0 : ran.moved),
              archives);
    EXPECT_EQ(files.OpenFiles(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Transfers, OnAShare,
                         ::testing::Values(Case{"RenameOnOneMount", Transfer::Move, "/share/out/"},
                                           Case{"MoveAcrossMounts", Transfer::Move,
                                                "/elsewhere/out/"},
                                           Case{"Copy", Transfer::Copy, "/elsewhere/out/"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CallPool, EveryCategoryGoesWhereOneCallAtATimePutsIt) {
    const auto run = [](MemoryFileSystem& files, bool remote) {
        std::string map;
        Build(files, map, remote);
        // Every third name another category's, one whose folder cannot be made.
        std::string body;
        for (int i = 0; i < kArchives; ++i) {
            body += "a" + std::to_string(i) +
                    (i % 3 == 0   ? "=Dog\n"
                     : i % 3 == 1 ? "=Cat\n"
                                  : "=Owl\n");
        }
        body += "absent=Eel\n";
        map = test::MapWithHeader(body);
        files.AddFile("/share/out/owl", "not a folder");
        PassRequest request{"", "/share/search/", "/share/out/"};
        request.targets = {{"Cat", "/share/out/pets/cat/"},
                           {"Dog", "/share/out/pets/dog/"},
                           {"Owl", "/share/out/owl/birds/"},
                           {"Eel", "/share/out/eel/"}};
        const PassResult result = Pass(files, map, request, nullptr).Run();
        std::vector<std::string> seen{std::to_string(result.moved)};
        for (const auto& failure : result.failed) {
            seen.push_back(failure.archive + ": " + failure.reason);
        }
        for (const char* folder :
             {"/share/out", "/share/out/pets", "/share/out/pets/cat", "/share/out/pets/dog"}) {
            for (const auto& name : files.Names(folder)) {
                seen.push_back(std::string(folder) + "/" + name);
            }
        }
        return seen;
    };
    MemoryFileSystem local;
    MemoryFileSystem share;
    const auto one = run(local, false);
    EXPECT_EQ(run(share, true), one);
    EXPECT_GT(one.size(), 40U);
    EXPECT_LE(share.MaxCallsInFlight(), kCallsInFlightOnAShare);
}

TEST(CallPool, AStoppedPoolStartsNothingMore) {
    CallPool pool(1);
    MemoryFileSystem files;
    files.AddFile("/a", "x");
    testing::Gate gate = files.Hold(Call::StatusOf);
    auto first = pool.Start([&] { return files.StatusOf("/a").kind; });
    auto second = pool.Start([&] { return files.StatusOf("/a").kind; });
    EXPECT_TRUE(gate.WaitUntilHeld(1));
    pool.Stop();
    gate.Release();
    EXPECT_EQ(CallPool::Result(first), fs::Kind::File);
    EXPECT_EQ(CallPool::Result(second), std::nullopt);
    EXPECT_EQ(files.CallCount(Call::StatusOf), 1U);
}

}  // namespace
}  // namespace lorvex
