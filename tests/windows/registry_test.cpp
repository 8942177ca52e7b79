// The card database of the registry (entries put there with `reg import` by
// the test fixture), the card-name filter built from it, and the silent
// dialog selecting by the ATRs and masks it holds.
#include "ombrix/card_session.h"
#include "platform/card_db.h"
#include "platform/platform.h"
#include "session/card_filter.h"
#include "tests/support/pcsc_fixture.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace ombrix::test {
namespace {

using namespace std::string_literals;

constexpr const char* kSystemDatabase =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Cryptography\\Calais\\SmartCards";
constexpr const char* kOddEntries = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrix Tests\\SmartCards";

// The system's database, whatever the environment names.
class RegistryTest : public PcscTest {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        if (const char* saved = std::getenv("OMBRIX_CARD_DB"))
            saved_ = saved;
        _putenv_s("OMBRIX_CARD_DB", "");
        ::SetLastError(0);
    }
    void TearDown() override
    {
        _putenv_s("OMBRIX_CARD_DB", saved_.c_str());
        PcscTest::TearDown();
    }

    int silent_dialog()
    {
        std::memset(buffer_, 'x', sizeof buffer_);
        char* out = buffer_;
        return CCardSession::SmartCardDialog(&out, &length_, 1);
    }

    char buffer_[256];
    long length_ = -1;

private:
    std::string saved_;
};

const platform::CardType* find(const std::vector<platform::CardType>& types, const std::string& name)
{
    for (const auto& type : types)
        if (type.name == name)
            return &type;
    return nullptr;
}

TEST_F(RegistryTest, SystemDatabaseIsTheRegistryKey)
{
    EXPECT_EQ(platform::card_database_path(), kSystemDatabase);
    const auto types = platform::read_card_database(kSystemDatabase);
    ASSERT_TRUE(types.has_value());
    ASSERT_EQ(types->size(), 3u);
    const auto* b = find(*types, "Ombrix Test B");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->atr, (Bytes{0x3B, 0x02, 0xB0}));
    EXPECT_EQ(b->mask, (Bytes{0xFF, 0xFF, 0xF0}));
    EXPECT_EQ(b->provider, "QV_CSP");
    const auto* a = find(*types, "Ombrix Test A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->mask, (Bytes{0xFF, 0xFF, 0xFF})); // no mask: every bit counts
}

TEST_F(RegistryTest, FilterNamesTheTwoTypesOfTheProvider)
{
    const auto types = platform::read_card_database(platform::card_database_path());
    ASSERT_TRUE(types.has_value());
    const std::string filter = session::card_name_filter(*types);
    EXPECT_EQ(filter, "Ombrix Test A\0Ombrix Test B\0\0"s);
    EXPECT_EQ(filter.size() - 1, 28u); // the length the dialog is given
}

TEST_F(RegistryTest, EntriesThatFitNoCardOrNoProvider)
{
    const auto types = platform::read_card_database(kOddEntries);
    ASSERT_TRUE(types.has_value());
    ASSERT_EQ(types->size(), 4u);
    EXPECT_EQ(session::card_name_filter(*types), "Mask too short\0No ATR\0Text ATR\0\0"s);
    // The filter goes by the provider; matching goes by a usable ATR and mask.
    EXPECT_TRUE(find(*types, "Longer provider")->matches(hex("3B 02 0D")));
    EXPECT_FALSE(find(*types, "Mask too short")->matches(hex("3B 02 0E")));
    EXPECT_TRUE(find(*types, "No ATR")->atr.empty());
    EXPECT_FALSE(find(*types, "Text ATR")->matches(hex("3B 02 0F"))); // ATR must be binary
}

TEST_F(RegistryTest, MissingKeyIsNoDatabase)
{
    EXPECT_FALSE(platform::read_card_database("HKEY_LOCAL_MACHINE\\SOFTWARE\\Ombrix Tests\\None"));
}

TEST_F(RegistryTest, SilentDialogOffersOnlyTheProvidersTypes)
{
    pcsc().add_reader("Foreign reader", std::make_shared<ScriptedCard>(hex("3B 02 0C")));
    pcsc().add_reader("Reader B", std::make_shared<ScriptedCard>(hex("3B 02 B7"))); // under B's mask
    ASSERT_EQ(silent_dialog(), 1);
    EXPECT_STREQ(buffer_, "Reader B");
    EXPECT_EQ(length_, 9);
}

// Two candidates and no one to ask: a cancel, told through the thread's last
// error, a PC/SC code that reads negative in a 32-bit `long`.
TEST_F(RegistryTest, SilentDialogWithTwoCandidatesFailsThroughTheLastError)
{
    pcsc().add_reader("Reader A", std::make_shared<ScriptedCard>(hex("3B 02 0A")));
    pcsc().add_reader("Reader B", std::make_shared<ScriptedCard>(hex("3B 02 B1")));
    EXPECT_EQ(silent_dialog(), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(SCARD_E_NO_SMARTCARD));
    EXPECT_EQ(platform::last_error(), static_cast<long>(SCARD_E_NO_SMARTCARD));
    EXPECT_LT(platform::last_error(), 0);
    EXPECT_EQ(buffer_[0], 'x');
}

} // namespace
} // namespace ombrix::test
