// The library's own commands against the virtual card through the in-process
// PC/SC: the card in a reader, sessions connected to it, and a signature of
// the card checked with OpenSSL.
#pragma once

#include "ombrix/ombrix_r2.h"
#include "sim/card/ombrix_card.h"
#include "tests/support/pcsc_fixture.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string_view>

namespace ombrix::test {

using sim::Model;
using sim::OmbrixCard;

class OnTheCard : public PcscTest {
protected:
    void insert(std::shared_ptr<OmbrixCard> card)
    {
        card_ = std::move(card);
        ASSERT_NE(card_, nullptr);
        pcsc().add_reader("Ombrix", card_);
    }
    template <class Session>
    static void connect(Session& session, const char* reader = "Ombrix")
    {
        ASSERT_EQ(session.InitRM(), 1);
        ASSERT_EQ(session.Connect(reader), 0);
    }
    template <class Session>
    void connect(Session& session, std::shared_ptr<OmbrixCard> card)
    {
        insert(std::move(card));
        connect(session);
    }
    static long select(COmbrixR2& session, std::initializer_list<unsigned char> path)
    {
        Bytes p(path);
        return session.cmdSELECT_FILE(COmbrixR2::SEL_PATH_MF, p.data(), static_cast<unsigned char>(p.size()),
                                      nullptr);
    }
    SMFLAGS both_{1, 1};
    std::shared_ptr<OmbrixCard> card_;
};

// cmdPSO_CDS with key `key` after restoring environment `env`, checked with
// OpenSSL against the SubjectPublicKeyInfo in the current EF.
inline void expect_signature_verifies(COmbrixR2& card, unsigned char env, unsigned char key_ref)
{
    Bytes spki(400);
    unsigned long len = spki.size();
    ASSERT_EQ(card.ReadBinaryFile(spki.data(), &len, nullptr), 0);
    const unsigned char* p = spki.data();
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(d2i_PUBKEY(nullptr, &p, static_cast<long>(len)),
                                                            EVP_PKEY_free);
    ASSERT_NE(key, nullptr);
    unsigned char digest_info[35] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2B, 0x0E,
                                     0x03, 0x02, 0x1A, 0x05, 0x00, 0x04, 0x14};
    const std::string_view message = "signed by the card";
    EVP_Digest(message.data(), message.size(), digest_info + 15, nullptr, EVP_sha1(), nullptr);
    unsigned char signature[144] = {};
    unsigned char sig_len = 0;
    ASSERT_EQ(card.cmdPSO_CDS(env, key_ref, digest_info, 35, signature, &sig_len, nullptr), 0);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EXPECT_TRUE(EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha1(), nullptr, key.get()) == 1 &&
                EVP_DigestVerify(md.get(), signature, sig_len, reinterpret_cast<const unsigned char*>(message.data()),
                                 message.size()) == 1);
}

} // namespace ombrix::test
