// The connection counter lives in a section of ombrix.dll that every process
// loading the DLL shares: a connect in one process shows in another. The
// program runs itself as the other process (--child-connect, --child-read).
#include "ombrix/card_session.h"
#include "platform/pcsc.h"
#include "sim/pcsc/inproc_pcsc.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

// Connects a session to a reader of the in-process PC/SC: one count.
bool connect_once()
{
    auto& pcsc = ombrix::sim::InprocPcsc::instance();
    pcsc.reset();
    pcsc.add_reader("Reader", std::make_shared<ombrix::sim::ScriptedCard>());
    ombrix::platform::use_pcsc(&ombrix::sim::inproc_pcsc_api());
    bool connected = false;
    {
        CCardSession session;
        connected = session.InitRM() == 1 && session.Connect("Reader") == 0;
        session.Disconnect();
    }
    ombrix::platform::use_pcsc(nullptr);
    return connected;
}

// Runs this program with `argument`; its exit code, or -1.
long run_child(const char* argument)
{
    char self[MAX_PATH] = {};
    if (::GetModuleFileNameA(nullptr, self, MAX_PATH) == 0)
        return -1;
    std::string command = "\"" + std::string(self) + "\" " + argument;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<long>(code);
}

TEST(SharedConnectCountTest, ConnectInAnotherProcessCountsHere)
{
    const int before = g_lConnectCount;
    ASSERT_EQ(run_child("--child-connect"), 0);
    EXPECT_EQ(g_lConnectCount, before + 1);
    ASSERT_EQ(run_child("--child-connect"), 0);
    EXPECT_EQ(g_lConnectCount, before + 2);
}

TEST(SharedConnectCountTest, AnotherProcessSeesTheConnectsOfThisOne)
{
    ASSERT_TRUE(connect_once());
    EXPECT_EQ(run_child("--child-read"), g_lConnectCount);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--child-connect") == 0)
        return connect_once() ? 0 : 1;
    if (argc == 2 && std::strcmp(argv[1], "--child-read") == 0)
        return g_lConnectCount;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
