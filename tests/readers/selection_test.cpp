// The card-selection dialog: which readers it offers, when it asks, and what
// it gives back.
#include "ombrix/selection.h"
#include "platform/platform.h"
#include "platform/select_card.h"
#include "tests/session/session_test_util.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix::test {
namespace {

const Bytes kAtrA = hex("3B 02 0A");
const Bytes kAtrB = hex("3B 02 0B");
const Bytes kAtrForeign = hex("3B 02 0C");

// Three card types, two of them for the library's provider.
constexpr const char* kThreeTypes = "[Type A]\nATR = 3B 02 0A\nCrypto Provider = QV_CSP\n"
                                    "[Type B]\nATR = 3B 02 0B\nCrypto Provider = QV_CSP\n"
                                    "[Foreign]\nATR = 3B 02 0C\nCrypto Provider = Other\n";

// What the presenter was shown, and what it answers.
struct Presented {
    int calls = 0;
    std::string title;
    std::vector<std::pair<std::string, std::string>> candidates;
    int answer = -1;
    bool throw_instead = false;
};

int recording_presenter(const char* title, const SelectionCandidate* candidates, int count,
                        void* user)
{
    auto& p = *static_cast<Presented*>(user);
    ++p.calls;
    p.title = title;
    p.candidates.clear();
    for (int i = 0; i < count; ++i)
        p.candidates.emplace_back(candidates[i].reader, candidates[i].card);
    if (p.throw_instead)
        throw std::runtime_error("presenter failed");
    return p.answer;
}

class SelectionTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        char path[] = "/tmp/ombrix-cards-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = path;
        const char* saved = std::getenv("OMBRIX_CARD_DB");
        had_saved_ = saved != nullptr;
        saved_ = saved ? saved : "";
        setenv("OMBRIX_CARD_DB", path_.c_str(), 1);
        write_database(kThreeTypes);
        set_selection_presenter(recording_presenter, &presented_);
        platform::set_last_error(0);
    }

    void TearDown() override
    {
        set_selection_presenter(nullptr, nullptr);
        if (had_saved_)
            setenv("OMBRIX_CARD_DB", saved_.c_str(), 1);
        else
            unsetenv("OMBRIX_CARD_DB");
        std::remove(path_.c_str());
        PcscTest::TearDown();
    }

    void write_database(const std::string& text) { std::ofstream(path_) << text; }

    void card_reader(const std::string& name, const Bytes& atr)
    {
        pcsc().add_reader(name, std::make_shared<ScriptedCard>(atr));
    }

    // Runs the dialog into a fresh 256-byte buffer.
    int dialog(int silent)
    {
        std::memset(buffer_, 'x', sizeof buffer_);
        char* out = buffer_;
        length_ = -1;
        const int done = CCardSession::SmartCardDialog(&out, &length_, silent);
        EXPECT_EQ(out, buffer_); // the caller's buffer stays the caller's
        return done;
    }

    Presented presented_;
    char buffer_[256];
    long length_ = 0;

private:
    std::string path_;
    std::string saved_;
    bool had_saved_ = false;
};

TEST_F(SelectionTest, SilentDialogTakesTheOnlyMatchingCard)
{
    pcsc().add_reader("Empty");
    card_reader("Foreign reader", kAtrForeign);
    card_reader("Reader B", kAtrB);
    ASSERT_EQ(dialog(1), 1);
    EXPECT_STREQ(buffer_, "Reader B");
    EXPECT_EQ(length_, 9);
    EXPECT_EQ(presented_.calls, 0);
    EXPECT_EQ(pcsc().open_contexts(), 0);
    EXPECT_EQ(pcsc().open_handles(), 0); // it selects, it does not connect
}

TEST_F(SelectionTest, WithoutRegisteredTypesAnyCardIsOffered)
{
    write_database("[Foreign]\nATR = 3B 02 0C\nCrypto Provider = Other\n");
    card_reader("Foreign reader", kAtrForeign);
    card_reader("Unknown reader", hex("3B 00"));
    presented_.answer = 1;
    ASSERT_EQ(dialog(0), 1);
    EXPECT_STREQ(buffer_, "Unknown reader");
    ASSERT_EQ(presented_.candidates.size(), 2u);
    EXPECT_EQ(presented_.candidates[0].second, "Foreign");
    EXPECT_EQ(presented_.candidates[1].second, "");
}

TEST_F(SelectionTest, PresenterIsAskedOnlyWhenTheChoiceIsOpen)
{
    card_reader("Reader A", kAtrA);
    card_reader("Foreign reader", kAtrForeign);
    ASSERT_EQ(dialog(0), 1);
    EXPECT_STREQ(buffer_, "Reader A");
    EXPECT_EQ(presented_.calls, 0);

    card_reader("Reader B", kAtrB);
    presented_.answer = 1;
    ASSERT_EQ(dialog(0), 1);
    EXPECT_STREQ(buffer_, "Reader B");
    EXPECT_EQ(length_, 9);
    EXPECT_EQ(presented_.calls, 1);
    EXPECT_EQ(presented_.title, "Ombrix API");
    const std::vector<std::pair<std::string, std::string>> offered{{"Reader A", "Type A"},
                                                                   {"Reader B", "Type B"}};
    EXPECT_EQ(presented_.candidates, offered);
}

TEST_F(SelectionTest, AMissingDatabaseOffersAnyCard)
{
    card_reader("Reader A", kAtrA);
    write_database("");
    std::remove(std::getenv("OMBRIX_CARD_DB"));
    EXPECT_EQ(dialog(1), 1);
    EXPECT_STREQ(buffer_, "Reader A");
}

// The ways the dialog fails: nothing written to the caller's buffer, the
// dialog's context released, and (but for a context that could not be
// established) the last error of a cancel.
struct Refusal {
    const char* name;
    std::vector<Bytes> cards; // one reader each
    int silent;
    int answer; // the presenter's: -1 cancels, out of range counts as a cancel
    enum Presenter { NotAsked, Asked, Throws, Default } presenter;
    std::optional<PcscCall> call; // fails with SCARD_E_NO_SERVICE
    long last_error;
};

class SelectionRefusal : public SelectionTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(SelectionRefusal, FailsLikeACancel)
{
    const Refusal& r = GetParam();
    if (r.presenter == Refusal::Default) {
        if (platform::stdin_is_terminal())
            GTEST_SKIP() << "standard input is a terminal: the default presenter would ask";
        set_selection_presenter(nullptr, nullptr);
    }
    for (std::size_t i = 0; i < r.cards.size(); ++i)
        card_reader("Reader " + std::to_string(i), r.cards[i]);
    if (r.call)
        pcsc().fail(*r.call, SCARD_E_NO_SERVICE);
    presented_.answer = r.answer;
    presented_.throw_instead = r.presenter == Refusal::Throws;
    TraceCapture capture;
    EXPECT_EQ(dialog(r.silent), 0);
    EXPECT_EQ(platform::last_error(), r.last_error);
    EXPECT_EQ(buffer_[0], 'x');
    EXPECT_EQ(presented_.calls, r.presenter == Refusal::Asked || r.presenter == Refusal::Throws ? 1 : 0);
    if (r.presenter == Refusal::Asked && r.cards.empty()) {
        EXPECT_TRUE(presented_.candidates.empty()) << "no candidate at all: asked anyway";
    }
    if (r.presenter == Refusal::Throws) {
        EXPECT_NE(capture.text().find("OUT -> SmartCardDialog exception!!!\n"), std::string::npos);
    }
    EXPECT_EQ(pcsc().open_contexts(), 0);
}

const long kCancelled = static_cast<long>(SCARD_E_NO_SMARTCARD);

INSTANTIATE_TEST_SUITE_P(
    Cases, SelectionRefusal,
    ::testing::Values(
        Refusal{"SilentWithTwoMatches", {kAtrA, kAtrB}, 1, -1, Refusal::NotAsked, {}, kCancelled},
        Refusal{"SilentWithAForeignCardOnly", {kAtrForeign}, 1, -1, Refusal::NotAsked, {}, kCancelled},
        Refusal{"PresenterCancels", {kAtrA, kAtrB}, 0, -1, Refusal::Asked, {}, kCancelled},
        Refusal{"PresenterOutOfRange", {kAtrA, kAtrB}, 0, 2, Refusal::Asked, {}, kCancelled},
        Refusal{"NoCandidate", {}, 0, 0, Refusal::Asked, {}, kCancelled},
        Refusal{"PresenterThrows", {kAtrA, kAtrB}, 0, 0, Refusal::Throws, {}, kCancelled},
        Refusal{"DefaultPresenterWithoutATerminal", {kAtrA, kAtrB}, 0, 0, Refusal::Default, {},
                kCancelled},
        Refusal{"NoContext", {kAtrA}, 1, 0, Refusal::NotAsked, PcscCall::EstablishContext,
                static_cast<long>(SCARD_E_NO_SERVICE)},
        Refusal{"StatusChangeFails", {kAtrA}, 1, 0, Refusal::NotAsked, PcscCall::GetStatusChange,
                kCancelled}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SelectionTest, MissingOutputsAreRefused)
{
    card_reader("Reader A", kAtrA);
    long length = 0;
    char* nothing = nullptr;
    EXPECT_EQ(CCardSession::SmartCardDialog(nullptr, &length, 1), 0);
    EXPECT_EQ(CCardSession::SmartCardDialog(&nothing, &length, 1), 0);
    char buffer[256];
    char* out = buffer;
    EXPECT_EQ(CCardSession::SmartCardDialog(&out, nullptr, 1), 0);
    EXPECT_EQ(pcsc().open_contexts(), 0);
}

} // namespace
} // namespace ombrix::test
