// Executable packages: activating one (LOAD EXECUTABLE), listing those the
// card holds (GET DATA 01 88) and looking one up.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "ombrix/status.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

using ombrix::r2::Command;

namespace {

constexpr unsigned char kInsLoadExecutable = 0x20;
constexpr unsigned char kInsGetData = 0xCA;
constexpr unsigned char kTagPackages = 0x88;
constexpr unsigned char kLePackages = 0x80;

constexpr unsigned char kClassR2 = 0x80;        // the first second-generation model
constexpr unsigned char kClassRevisions = 0x84; // R21, R21v, R22, R23, R23v

// One entry of the card's list: six bytes, the identifier in bytes 2 and 3.
constexpr std::size_t kEntrySize = 6;
constexpr std::size_t kIdOffset = 2;
// The most entries the 128 bytes GetPackages asks for can hold: the caller's
// list is sized for these, whatever the card sends.
constexpr std::size_t kMaxListed = kLePackages / kEntrySize;
// IsPackagePresent's own list: room for every entry the 253 data bytes of an
// answer could give.
constexpr std::size_t kLookupRoom = 253 / kEntrySize;

// The class byte follows the model: 80 on an R2 (or when IsR2's own exchange
// fails: its failure code is not 0), 84 on the later revisions. 0 when no
// model answers.
unsigned char load_executable_class(CCardSM& card)
{
    if (card.IsR2() != 0)
        return kClassR2;
    for (auto test : {&CCardSM::IsR21, &CCardSM::IsR21v, &CCardSM::IsR22, &CCardSM::IsR23,
                      &CCardSM::IsR23v}) {
        if ((card.*test)() == 1)
            return kClassRevisions;
    }
    return 0;
}

} // namespace

// cla 20 P1 P2 with the caller's btLen bytes, after up to six model tests.
long COmbrixR2::cmdLOAD_EXECUTABLE(unsigned char* pbtData, unsigned char btLen, unsigned char btP1,
                                   unsigned char btP2)
{
    if (pbtData == nullptr && btLen != 0)
        return ombrix::OMBRIX_E_INVALID_ARGUMENT;
    const unsigned char cla = load_executable_class(*this);
    if (cla == 0)
        return ombrix::OMBRIX_E_NO_MODEL;
    Command cmd(*this, cla, kInsLoadExecutable, btP1, btP2);
    return cmd.data({pbtData, btLen}).send();
}

// 00 CA 01 88 80. *pCount is written also when pPackages is null, so a
// caller can ask the count first; never more than 21 entries are written.
unsigned long COmbrixR2::GetPackages(PACKAGE* pPackages, int* pCount)
{
    if (pCount == nullptr)
        return static_cast<unsigned long>(ombrix::OMBRIX_E_INVALID_ARGUMENT);
    Command cmd(*this, 0x00, kInsGetData, 0x01, kTagPackages);
    if (long rc = cmd.le(kLePackages).send(); rc != 0)
        return static_cast<unsigned long>(rc);
    // A card that answers more than asked does not get to write past the
    // 21 entries a caller sizes the list for.
    const std::size_t count = std::min(cmd.response().size() / kEntrySize, kMaxListed);
    *pCount = static_cast<int>(count);
    if (pPackages != nullptr) {
        const auto list = cmd.response();
        for (std::size_t i = 0; i < count; ++i) {
            pPackages[i].btId1 = list[i * kEntrySize + kIdOffset];
            pPackages[i].btId2 = list[i * kEntrySize + kIdOffset + 1];
        }
    }
    return 0;
}

// A failed listing reads as absence: the answer is 1 or 0 only.
int COmbrixR2::IsPackagePresent(PACKAGE package)
{
    std::array<PACKAGE, kLookupRoom> list{};
    int count = 0;
    if (GetPackages(list.data(), &count) != 0)
        return 0;
    const auto listed = std::span(list).first(static_cast<std::size_t>(count));
    return std::any_of(listed.begin(), listed.end(),
                       [&](const PACKAGE& p) {
                           return p.btId1 == package.btId1 && p.btId2 == package.btId2;
                       })
               ? 1
               : 0;
}
