// Allocation failure sweep: for each operation, allocation 1, 2, 3, ... of
// the call fails, until a run completes without reaching the failing one.
// Every run must end in success or one of the library's named codes, throw
// nothing, and leave nothing behind: no block allocated during the call
// outlives the objects it belongs to, and the in-process PC/SC has nothing
// open. Under the address sanitizer the same runs are checked for overruns
// and leaks.
#include "ombrix/card_session.h"
#include "ombrix/ombrix_r1.h"
#include "ombrix/ombrix_r2.h"
#include "ombrix/status.h"
#include "tests/alloc/alloc_hooks.h"
#include "tests/faults/fault_util.h"
#include "tests/faults/file_card.h"
#include "platform/pcsc.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>

namespace ombrix::test {
namespace {

// A result an application can act on: success, a status word or PC/SC
// error, or one of the library's own codes by name.
bool understood(long rc)
{
    const auto code = static_cast<unsigned long>(rc);
    if (rc == 0 || (rc >= 0x6000 && rc <= 0x9FFF) || (code & 0xFFFF0000UL) == 0x80100000UL)
        return true;
    return rc < 0 && std::strncmp(status_name(rc), "OMBRIX_E_", 9) == 0;
}

void on_event(char*, int) {}

// The in-process PC/SC's entry points with allocation counting paused: the
// sweep is about the library's allocations, not the service's.
template <auto Member, class Entry>
struct PausedEntry;
template <auto Member, class... Args>
struct PausedEntry<Member, LONG (*)(Args...)> {
    static LONG call(Args... args)
    {
        alloc::Pause pause;
        return (sim::inproc_pcsc_api().*Member)(args...);
    }
};
template <auto Member>
using Paused = PausedEntry<Member, std::remove_cvref_t<decltype(sim::inproc_pcsc_api().*Member)>>;

const platform::PcscApi& paused_pcsc()
{
    static const platform::PcscApi table = [] {
        using A = platform::PcscApi;
        A t = sim::inproc_pcsc_api();
        t.EstablishContext = Paused<&A::EstablishContext>::call;
        t.ReleaseContext = Paused<&A::ReleaseContext>::call;
        t.ListReadersA = Paused<&A::ListReadersA>::call;
        t.ConnectA = Paused<&A::ConnectA>::call;
        t.Reconnect = Paused<&A::Reconnect>::call;
        t.Disconnect = Paused<&A::Disconnect>::call;
        t.BeginTransaction = Paused<&A::BeginTransaction>::call;
        t.EndTransaction = Paused<&A::EndTransaction>::call;
        t.Transmit = Paused<&A::Transmit>::call;
        t.GetAttrib = Paused<&A::GetAttrib>::call;
        t.GetStatusChangeA = Paused<&A::GetStatusChangeA>::call;
        t.Cancel = Paused<&A::Cancel>::call;
        t.FreeMemory = Paused<&A::FreeMemory>::call;
        t.StatusA = Paused<&A::StatusA>::call;
        return t;
    }();
    return table;
}

struct Sweep {
    const char* name;
    // Builds what the call needs (not counted), makes the call (counted) and
    // returns its result; everything it built is gone when it returns.
    std::function<long(const std::function<long(std::function<long()>)>&)> run;
};

// `counted` runs its argument with the allocation failure armed.
using Counted = std::function<long(std::function<long()>)>;

std::vector<Sweep> sweeps()
{
    return {
        {"ConnectNamed",
         [](const Counted& counted) {
             CCardSession s;
             s.InitRM();
             return counted([&] { return s.Connect("R"); });
         }},
        {"ConnectFirstUsable",
         [](const Counted& counted) {
             CCardSession s;
             s.InitRM();
             return counted([&] { return s.Connect(nullptr); });
         }},
        {"CopyAndSend",
         [](const Counted& counted) {
             auto s = connected<CCardSession>();
             return counted([&] {
                 CCardSession copy(*s);
                 unsigned char resp[256], len = 0, sw1 = 0, sw2 = 0;
                 const long rc = copy.Send(APDU{0, 0xCA, 0x01, 0x83, 0, nullptr, 1}, resp, &len,
                                           &sw1, &sw2);
                 return rc != 0 ? rc : s->Send(APDU{0, 0xCA, 0x01, 0x83, 0, nullptr, 1}, resp, &len);
             });
         }},
        {"R1ReadBinaryFile",
         [](const Counted& counted) {
             auto r1 = connected<COmbrixR1>();
             unsigned char buf[700];
             unsigned long len = sizeof buf;
             return counted([&] { return r1->ReadBinaryFile(buf, &len); });
         }},
        {"R1WriteBinaryFile",
         [](const Counted& counted) {
             auto r1 = connected<COmbrixR1>();
             Bytes data = pattern(600);
             return counted([&] { return r1->WriteBinaryFile(data.data(), 600); });
         }},
        {"R2ReadBinaryFile",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             unsigned char buf[700];
             unsigned long len = sizeof buf;
             return counted([&] { return r2->ReadBinaryFile(buf, &len, nullptr); });
         }},
        {"R2WriteBinaryFile",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             Bytes data = pattern(600);
             return counted([&] { return r2->WriteBinaryFile(data.data(), 600, nullptr); });
         }},
        {"R2ProtectedReadBinary",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             SMFLAGS both{1, 1};
             unsigned char buf[300];
             unsigned long len = sizeof buf;
             return counted([&] { return r2->cmdREAD_BINARY(buf, &len, &both); });
         }},
        {"R2ProtectedUpdateBinary",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             SMFLAGS both{1, 1};
             Bytes data = pattern(250);
             return counted([&] { return r2->cmdUPDATE_BINARY(data.data(), 250, &both); });
         }},
        {"R2VerifyPlainAndProtected",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             SMFLAGS both{1, 1};
             unsigned char pin[] = "1234";
             return counted([&] {
                 const long rc = r2->cmdVERIFY(1, pin, 4, nullptr);
                 return rc != 0 ? rc : r2->cmdVERIFY(1, pin, 4, &both);
             });
         }},
        {"R2ChangeReferenceDataProtected",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             SMFLAGS both{1, 1};
             unsigned char pins[] = "12345678";
             return counted([&] {
                 return r2->cmdCHANGE_REFERENCE_DATA(1, COmbrixR2::OBJ_PIN, pins, 8,
                                                     COmbrixR2::MECH_NEW_DATA_ONLY,
                                                     COmbrixR2::MECH_LOCAL_REF, &both);
             });
         }},
        {"R2InitPinProtected",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             SMFLAGS both{1, 1};
             unsigned char pin[] = "1234";
             return counted(
                 [&] { return r2->Init_PIN(1, pin, 4, 3, 4, nullptr, nullptr, &both); });
         }},
        {"R2CreateKpri",
         [](const Counted& counted) {
             auto r2 = connected<COmbrixR2>();
             return counted([&] {
                 return r2->Create_Kpri(1, COmbrixR2::ALGO_RSA, 64, 0, nullptr, nullptr, nullptr);
             });
         }},
        {"GetReaderList",
         [](const Counted& counted) {
             CCardSession s;
             s.InitRM();
             char* list = nullptr;
             long count = 0;
             const long rc = counted([&] { return s.GetReaderList(0, &list, count); });
             std::free(list);
             return rc;
         }},
        {"GetManufacturer",
         [](const Counted& counted) {
             auto s = connected<CCardSession>();
             unsigned char name[64];
             long len = sizeof name;
             return counted([&] { return s->GetManufacturer(name, len); });
         }},
        {"MonitoringStartStop",
         [](const Counted& counted) {
             static char reader[] = "R";
             const long rc = counted([&] {
                 const long started = CCardSession::StartCardMonitoringEx(reader, on_event, 1, 1);
                 CCardSession::StopCardMonitoring();
                 return started;
             });
             return rc;
         }},
        {"MemberMonitoringStartStop",
         [](const Counted& counted) {
             auto s = connected<CCardSession>();
             const long rc = counted([&] {
                 const long started = s->StartCardMonitoring(on_event, on_event, 0);
                 CCardSession::StopCardMonitoring();
                 return started;
             });
             return rc;
         }},
    };
}

class AllocSweep : public PcscTest, public ::testing::WithParamInterface<Sweep> {
protected:
    void SetUp() override
    {
        PcscTest::SetUp();
        platform::use_pcsc(&paused_pcsc());
    }
    void TearDown() override
    {
        platform::use_pcsc(nullptr);
        PcscTest::TearDown();
    }
};

TEST_P(AllocSweep, EveryFailingAllocationEndsInANamedResultWithNothingLeft)
{
    constexpr long kLimit = 5000;
    // Once without counting: what stays for the life of the process (the
    // cipher engine's fetched algorithms) is in place before the sweep.
    {
        pcsc().add_reader("R", std::make_shared<FileCard>(prefixed(pattern(600))));
        alloc::Pause pause;
        const long rc = GetParam().run([](std::function<long()> call) { return call(); });
        ASSERT_EQ(rc, 0) << "the call succeeds without failing allocations";
    }
    long n = 1;
    for (; n <= kLimit; ++n) {
        pcsc().reset();
        pcsc().add_reader("R", std::make_shared<FileCard>(prefixed(pattern(600))));
        bool reached = false;
        long live_after_call = 0;
        long rc = 0;
        const Counted counted = [&](std::function<long()> call) {
            alloc::arm(n);
            long result = 0;
            try {
                result = call();
            } catch (...) {
                reached = alloc::disarm();
                ADD_FAILURE() << "allocation " << n << ": an exception crossed the interface";
                return OMBRIX_E_FAILED;
            }
            reached = alloc::disarm();
            return result;
        };
        try {
            rc = GetParam().run(counted);
        } catch (...) {
            ADD_FAILURE() << "allocation " << n << ": an exception escaped the set-up";
        }
        live_after_call = alloc::live_armed_blocks();
        EXPECT_TRUE(understood(rc)) << "allocation " << n << " failing gives " << rc << " ("
                                    << status_name(rc) << ")";
        EXPECT_EQ(live_after_call, 0) << "allocation " << n << ": blocks left behind";
        expect_nothing_left_open();
        if (::testing::Test::HasFailure())
            break;
        if (!reached) {
            EXPECT_EQ(rc, 0) << "without a failing allocation the call succeeds";
            break;
        }
    }
    EXPECT_LT(n, kLimit);
    RecordProperty("allocations", static_cast<int>(n - 1));
    std::printf("[ sweep    ] %s: %ld failing allocations\n", GetParam().name, n - 1);
}

INSTANTIATE_TEST_SUITE_P(Operations, AllocSweep, ::testing::ValuesIn(sweeps()),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace ombrix::test
