// The triple-DES/MAC component against published known-answer vectors:
// FIPS 46-3 (single DES as k, k, k), FIPS 81 CBC, NIST SP 800-67 triple DES,
// ISO/IEC 9797-1 Annex B MAC algorithms 1 and 3 ("Now is the time for all ").
#include "qvcrypto/c3des_mac.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes hex(const std::string& s)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

struct Engine {
    C3Des_Mac des;
    Bytes in;
    Bytes out;
    Engine(const std::string& k1, const std::string& k2, const std::string& k3, const Bytes& input,
           const std::string& iv = "0000000000000000")
        : in(input), out(input.size(), 0)
    {
        Bytes a = hex(k1), b = hex(k2), c = hex(k3), v = hex(iv);
        des.initializeKeys(a.data(), b.data(), c.data());
        des.setIn(in.data(), static_cast<long>(in.size()));
        des.setOut(out.data());
        des.setIV(v.data());
    }
};

const Bytes kNowIsTheTime = [] {
    const std::string s = "Now is the time for all ";
    return Bytes(s.begin(), s.end());
}();

TEST(C3DesMacKnownAnswers, SingleDesAsTripleWithOneKey)
{
    // FIPS 46-3 worked example: key 133457799BBCDFF1, plaintext 0123456789ABCDEF.
    Engine e("133457799BBCDFF1", "133457799BBCDFF1", "133457799BBCDFF1", hex("0123456789ABCDEF"));
    ASSERT_EQ(e.des.cifra(e.out.data()), 0);
    EXPECT_EQ(e.out, hex("85E813540F0AB405"));
    Engine d("133457799BBCDFF1", "133457799BBCDFF1", "133457799BBCDFF1", hex("85E813540F0AB405"));
    ASSERT_EQ(d.des.decifra(d.out.data()), 0);
    EXPECT_EQ(d.out, hex("0123456789ABCDEF"));
}

TEST(C3DesMacKnownAnswers, CbcChainsFromTheSetIv)
{
    // FIPS 81 CBC example: key 0123456789ABCDEF, IV 1234567890ABCDEF.
    Engine e("0123456789ABCDEF", "0123456789ABCDEF", "0123456789ABCDEF", kNowIsTheTime,
             "1234567890ABCDEF");
    ASSERT_EQ(e.des.cifra(e.out.data()), 0);
    EXPECT_EQ(e.out, hex("E5C7CDDE872BF27C43E934008C389C0F683788499A7C05F6"));
    Engine d("0123456789ABCDEF", "0123456789ABCDEF", "0123456789ABCDEF", e.out, "1234567890ABCDEF");
    ASSERT_EQ(d.des.decifra(d.out.data()), 0);
    EXPECT_EQ(d.out, kNowIsTheTime);
}

TEST(C3DesMacKnownAnswers, TripleDesThreeKeysMechanism5)
{
    // NIST SP 800-67 example (ECB, three keys, "The qufck brown fox jump").
    const std::string text = "The qufck brown fox jump";
    Engine e("0123456789ABCDEF", "23456789ABCDEF01", "456789ABCDEF0123", Bytes(text.begin(), text.end()));
    ASSERT_EQ(e.des.Set_Mechanism(C3Des_Mac::MECH_ECB), 0);
    ASSERT_EQ(e.des.cifra(e.out.data()), 0);
    EXPECT_EQ(e.out, hex("A826FD8CE53B855FCCE21C8112256FE668D5C05DD9B6B900"));
    // A copy carries keys and mechanism.
    C3Des_Mac copy(e.des);
    Bytes again(e.out.size());
    copy.setIn(e.in.data(), static_cast<long>(e.in.size()));
    ASSERT_EQ(copy.cifra(again.data()), 0);
    EXPECT_EQ(again, e.out);
}

TEST(C3DesMacKnownAnswers, MacAlgorithm1IsTheLastCbcBlock)
{
    // ISO/IEC 9797-1 algorithm 1 with DES (here k, k, k): 70A30640CC76DD8B.
    Engine e("0123456789ABCDEF", "0123456789ABCDEF", "0123456789ABCDEF", kNowIsTheTime);
    Bytes m(8);
    ASSERT_EQ(e.des.mac(m.data()), 0);
    EXPECT_EQ(m, hex("70A30640CC76DD8B"));
}

TEST(C3DesMacKnownAnswers, MacAlgorithm3AsAnotherMechanism)
{
    // ISO/IEC 9797-1 algorithm 3, K = 0123456789ABCDEF, K' = FEDCBA9876543210.
    Engine e("0123456789ABCDEF", "FEDCBA9876543210", "0123456789ABCDEF", kNowIsTheTime);
    ASSERT_EQ(e.des.Set_Mechanism(C3Des_Mac::MECH_RETAIL_MAC), 0);
    Bytes m(8);
    ASSERT_EQ(e.des.mac(m.data()), 0);
    EXPECT_EQ(m, hex("A1C72E74EA3FA9B6"));
    // The default mechanism with the same keys is a different MAC (algorithm 1,
    // 93462A6DB9B4A4D1 computed with Python's cryptography package).
    ASSERT_EQ(e.des.Set_Mechanism(C3Des_Mac::MECH_DEFAULT), 0);
    ASSERT_EQ(e.des.mac(m.data()), 0);
    EXPECT_EQ(m, hex("93462A6DB9B4A4D1"));
}

TEST(C3DesMacContract, RefusesWhatItCannotCompute)
{
    C3Des_Mac des;
    unsigned char buf[16] = {};
    des.setIn(buf, 16);
    EXPECT_NE(des.cifra(buf), 0) << "no key loaded";
    unsigned char k[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    des.initializeKeys(k, k, k);
    EXPECT_NE(des.setIn(buf, 12), 0);
    EXPECT_NE(des.mac(buf), 0) << "length not a multiple of 8";
    des.setIn(buf, 0);
    EXPECT_NE(des.cifra(buf), 0);
    EXPECT_NE(des.Set_Mechanism(42), 0);
    des.setIn(buf, 16);
    EXPECT_EQ(des.cifra(buf), 0) << "an unknown mechanism leaves the current one";
}

} // namespace
