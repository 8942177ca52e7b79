// GetSMKey: the card's secure-messaging key is its identification data (the
// first 16 bytes of GET DATA 01 81), enciphered block by block under the
// issuer's master key.
#include "ombrix/ombrix_r2.h"

#include "cards/r2/command.h"
#include "cards/r2/issuer_constants.h"
#include "ombrix/status.h"
#include "shell/secure_zero.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr unsigned char kInsGetData = 0xCA;
constexpr unsigned char kTagIdentification = 0x81;
constexpr unsigned char kLeIdentification = 0x60;
constexpr std::size_t kKeySize = 16;

// Wiped on every path: the master key, the identification blocks and the key.
struct DerivationScratch {
    std::array<std::uint8_t, ombrix::issuer::kMasterKeySize> master{};
    std::array<unsigned char, kKeySize> id{};
    std::array<unsigned char, kKeySize> key{};
    ~DerivationScratch()
    {
        ombrix::secure_zero(master.data(), master.size());
        ombrix::secure_zero(id.data(), id.size());
        ombrix::secure_zero(key.data(), key.size());
    }
};

} // namespace

int COmbrixR2::GetSMKey()
{
    return static_cast<int>(DeriveSMKey());
}

long COmbrixR2::DeriveSMKey()
{
    ombrix::r2::Command cmd(*this, 0x00, kInsGetData, 0x01, kTagIdentification);
    if (long rc = cmd.le(kLeIdentification).send(); rc != 0)
        return rc;
    const auto id = cmd.response();
    // Fewer than 16 bytes give no key: nothing is read past the answer.
    if (id.size() < kKeySize)
        return ombrix::OMBRIX_E_SM_SHORT_ID_DATA;

    DerivationScratch s;
    std::memcpy(s.id.data(), id.data(), kKeySize);
    ombrix::issuer::master_key(s.master);

    {
        // On the stack, not on the heap: the engine's class lives in the
        // QVCrypto module, whose deleting destructor would free a block this
        // module allocated, with that module's allocator (on Windows each
        // module has its own operator delete).
        C3Des_Mac engine;
        engine.Set_Mechanism(C3Des_Mac::MECH_ECB);
        engine.initializeKeys(s.master.data(), s.master.data() + 8, s.master.data() + 16);
        unsigned char zeroIv[8] = {};
        engine.setIV(zeroIv);
        for (std::size_t half = 0; half < kKeySize; half += 8) {
            engine.setIn(s.id.data() + half, 8);
            engine.setOut(s.key.data() + half);
            // The engine's own codes would read as status codes of another kind.
            if (engine.cifra(s.key.data() + half) != 0)
                return ombrix::OMBRIX_E_SM_CRYPTO;
        }
    } // the engine's destructor wipes the master key it held

    auto* key = new (std::nothrow) unsigned char[kKeySize];
    if (key == nullptr)
        return ombrix::OMBRIX_E_NO_MEMORY;
    std::memcpy(key, s.key.data(), kKeySize);
    ReleaseSMKey();
    m_pSMKey = key;
    return 0;
}
