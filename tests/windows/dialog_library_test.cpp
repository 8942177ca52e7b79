// The system's dialog: the selection-dialog library's first export, found by
// ordinal and given the record as the SDK lays it out (a stand-in library
// whose first export has another name).
#include "platform/windows/dialog_library.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace ombrix::test {
namespace {

using namespace std::string_literals;
using platform::run_dialog_library;

constexpr const char* kFake = "ombrix_fake_dialog.dll";

class DialogLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Held for the whole test, so that the stand-in keeps what it saw.
        module_ = ::LoadLibraryA(kFake);
        ASSERT_NE(module_, nullptr);
        set_answer_ = reinterpret_cast<void (*)(LONG)>(
            reinterpret_cast<void*>(::GetProcAddress(module_, "fake_set_answer")));
        calls_ = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(::GetProcAddress(module_, "fake_calls")));
        seen_ = reinterpret_cast<const ::OPENCARDNAMEA* (*)(const char**, const char**, DWORD*)>(
            reinterpret_cast<void*>(::GetProcAddress(module_, "fake_seen")));
        ASSERT_TRUE(set_answer_ && calls_ && seen_);
        set_answer_(SCARD_S_SUCCESS);

        // Filled as the library's SmartCardDialog fills it, with a context
        // that needs all 64 bits.
        record_.dwStructSize = sizeof record_;
        record_.hSCardContext = static_cast<SCARDCONTEXT>(0x5A5A00001234ull);
        record_.lpstrCardNames = names_.data();
        record_.nMaxCardNames = static_cast<DWORD>(names_.size() - 1);
        record_.lpstrRdr = reader_;
        record_.nMaxRdr = sizeof reader_;
        record_.lpstrCard = card_;
        record_.nMaxCard = sizeof card_;
        record_.lpstrTitle = "Ombrix API";
        record_.dwFlags = SC_DLG_NO_UI;
    }
    void TearDown() override
    {
        if (module_ != nullptr)
            ::FreeLibrary(module_);
    }

    HMODULE module_ = nullptr;
    void (*set_answer_)(LONG) = nullptr;
    int (*calls_)() = nullptr;
    const ::OPENCARDNAMEA* (*seen_)(const char**, const char**, DWORD*) = nullptr;
    std::string names_ = "Type A\0Type B\0\0"s;
    char reader_[256] = {};
    char card_[256] = {};
    platform::OPENCARDNAMEA record_{};
};

TEST_F(DialogLibraryTest, FirstExportGetsTheRecordAsTheSdkDeclaresIt)
{
    LONG result = -1;
    ASSERT_TRUE(run_dialog_library(kFake, record_, result));
    EXPECT_EQ(result, SCARD_S_SUCCESS);
    EXPECT_EQ(calls_(), 1);
    EXPECT_STREQ(reader_, "Fake Reader");
    EXPECT_STREQ(card_, "Fake Card");

    const char* title = nullptr;
    const char* names = nullptr;
    DWORD names_size = 0;
    const ::OPENCARDNAMEA& seen = *seen_(&title, &names, &names_size);
    EXPECT_EQ(seen.dwStructSize, sizeof(::OPENCARDNAMEA));
    EXPECT_EQ(seen.hSCardContext, static_cast<SCARDCONTEXT>(0x5A5A00001234ull)); // full width
    EXPECT_EQ(seen.dwFlags, static_cast<DWORD>(SC_DLG_NO_UI));
    EXPECT_EQ(seen.nMaxRdr, 256u);
    EXPECT_EQ(seen.nMaxCard, 256u);
    EXPECT_STREQ(title, "Ombrix API");
    EXPECT_EQ(std::string(names, names_size), names_);
    EXPECT_EQ(seen.lpfnConnect, nullptr); // it selects, it does not connect
    EXPECT_EQ(seen.dwShareMode, 0u);
}

TEST_F(DialogLibraryTest, DialogsAnswerIsTheResult)
{
    set_answer_(static_cast<LONG>(SCARD_W_CANCELLED_BY_USER));
    LONG result = 0;
    ASSERT_TRUE(run_dialog_library(kFake, record_, result));
    EXPECT_EQ(result, static_cast<LONG>(SCARD_W_CANCELLED_BY_USER));
    EXPECT_LT(result, 0); // a 32-bit LONG
    EXPECT_EQ(reader_[0], '\0');
}

TEST_F(DialogLibraryTest, MissingLibraryLeavesTheChoiceToTheLibrarysOwnDialog)
{
    LONG result = 12345;
    EXPECT_FALSE(run_dialog_library("ombrix_no_such_dialog.dll", record_, result));
    EXPECT_EQ(result, 12345);
    EXPECT_EQ(calls_(), 0);
}

} // namespace
} // namespace ombrix::test
