// The card's codes for what the personalization commands describe: file
// types, key algorithms, PIN devices, the meaning of each byte of the
// access-condition records, the element tags and the values written when a
// command gets no record. One table, shared by the library (ombrix_r2.h and
// cards/r2/) and the virtual card, so that the two cannot drift apart.
// Plain constants only: no library types, nothing to link.
//
// docs/personalization.md explains every entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace ombrix::descriptor {

// -- file descriptor byte: the first value byte of element 82 in CREATE FILE
// Record files take their record length from the third byte of 82 (linear
// variable: the longest record, 0 = 255).
inline constexpr std::uint8_t kFileDf = 0x38;             // directory
inline constexpr std::uint8_t kFileTransparent = 0x01;    // binary EF
inline constexpr std::uint8_t kFileLinearFixed = 0x02;    // records of one length
inline constexpr std::uint8_t kFileLinearVariable = 0x04; // records up to a length
inline constexpr std::uint8_t kFilePublicKey = 0x05;      // transparent: a generated public key
inline constexpr std::uint8_t kFileExecutable = 0x21;     // transparent: an executable package

// -- object algorithm byte: b3 of the object parameters (element 85)
inline constexpr std::uint8_t kAlgoDes = 0x81;            // single-DES key
inline constexpr std::uint8_t kAlgoTripleDes = 0x82;      // two-key triple-DES key
inline constexpr std::uint8_t kAlgoRsa = 0x84;            // RSA private key, modulus and exponent
inline constexpr std::uint8_t kAlgoRsaCrt = 0x85;         // RSA private key, CRT form
inline constexpr std::uint8_t kAlgoPin = 0x87;            // PIN object (Init_PIN writes it)
inline constexpr std::uint8_t kAlgoPublicKeyTest = 0x88;  // public-key test object
inline constexpr std::uint8_t kAlgoLogical = 0x7F;        // logical object (Init_Logical)

// -- PIN device byte: b3 of the object parameters of Init_PINex
inline constexpr std::uint8_t kDevicePin = 0x87;          // a PIN typed on a keyboard or PIN pad
inline constexpr std::uint8_t kDeviceBiometric = 0x8A;    // a biometric template matched on card

// -- record sizes (bytes; the element's length byte)
inline constexpr std::size_t kDfAcSize = 9;    // DFAC, MFAC
inline constexpr std::size_t kEfAcSize = 9;    // EFAC
inline constexpr std::size_t kFileSmSize = 24; // DFSM, EFSM, MFSM
inline constexpr std::size_t kObjectAcSize = 7;  // BSAC
inline constexpr std::size_t kObjectSmSize = 16; // BSSM
inline constexpr std::size_t kSeAcSize = 2;      // SEAC
inline constexpr std::size_t kObjectParameterCount = 8;

// -- access-condition byte values (every AC record)
inline constexpr std::uint8_t kAcAlways = 0x00;
inline constexpr std::uint8_t kAcNever = 0xFF;
// Any other value names the PIN or key reference that must be satisfied;
// bit 8 marks a reference of the current DF and is not compared.
inline constexpr std::uint8_t kAcLocalBit = 0x80;

// -- positions in the access conditions of a DF (DFAC) and of the MF (MFAC)
namespace df_ac {
inline constexpr std::size_t kCreateEf = 0;
inline constexpr std::size_t kCreateDf = 1;
inline constexpr std::size_t kDelete = 2;
inline constexpr std::size_t kDeactivate = 3;
inline constexpr std::size_t kActivate = 4;
inline constexpr std::size_t kChangeAc = 5;     // PUT DATA on the FCI: access conditions and name
inline constexpr std::size_t kCreateObject = 6; // PINs, keys, logical objects, environments
inline constexpr std::size_t kRfu7 = 7;
inline constexpr std::size_t kRfu8 = 8;
} // namespace df_ac

// -- positions in the access conditions of an EF (EFAC)
namespace ef_ac {
inline constexpr std::size_t kRead = 0;
inline constexpr std::size_t kUpdate = 1;
inline constexpr std::size_t kAppend = 2;
inline constexpr std::size_t kDeactivate = 3;
inline constexpr std::size_t kActivate = 4;
inline constexpr std::size_t kDelete = 5;
inline constexpr std::size_t kChangeAc = 6;
inline constexpr std::size_t kCrypto = 7;   // use of the file's key in a cryptographic operation
inline constexpr std::size_t kIncrease = 8;
} // namespace ef_ac

// -- element tags
inline constexpr std::uint8_t kTagFci = 0x6F;            // CREATE FILE (R2) and FORMAT template
inline constexpr std::uint8_t kTagFcp = 0x62;            // CREATE FILE template of the R22 shapes
inline constexpr std::uint8_t kTagFileSize = 0x80;       // EF size (62 templates)
inline constexpr std::uint8_t kTagTotalSize = 0x81;      // EF size (6F), DF size field
inline constexpr std::uint8_t kTagDescriptor = 0x82;
inline constexpr std::uint8_t kTagFileId = 0x83;         // also: object class and number
inline constexpr std::uint8_t kTagDfName = 0x84;
inline constexpr std::uint8_t kTagProprietary = 0x85;    // also: the eight object parameters
inline constexpr std::uint8_t kTagAc = 0x86;
inline constexpr std::uint8_t kTagSm = 0x8B;             // secure-messaging requirements (R2)
inline constexpr std::uint8_t kTagSmR22 = 0xCB;          // ... on R22
inline constexpr std::uint8_t kTagObjectValue = 0x8F;

// -- PUT DATA 00 DA P1 P2
inline constexpr std::uint8_t kPutDataP1 = 0x01;
inline constexpr std::uint8_t kPutObject = 0x6E;         // object description
inline constexpr std::uint8_t kPutEnvironment = 0x6D;    // security-environment description
inline constexpr std::uint8_t kPutFileControl = 0x6F;    // file-control update of the current file
inline constexpr std::uint8_t kPutDigestInfoP1 = 0x02;
inline constexpr std::uint8_t kPutDigestInfo = 0xC2;     // digest-information prefix

// -- object classes the commands write (first byte of 83)
inline constexpr std::uint8_t kClassPin = 0x00;            // PINs, logical, first test object
inline constexpr std::uint8_t kClassPublicTest = 0x01;     // second public-key test object
inline constexpr std::uint8_t kClassPrivateKey = 0x20;     // first object of a private key
inline constexpr std::uint8_t kClassPrivateKeyPart = 0x21; // its second object

// -- values written when a command gets no record
// Create_DF, Create_DF_R22: everything allowed.
inline constexpr std::array<std::uint8_t, kDfAcSize> kDefaultDfAc = {};
// Create_EF, Create_EF_R22_BIN, Create_Kpub: read, update, append, delete and
// change AC allowed; deactivate, activate, crypto use and increase never.
inline constexpr std::array<std::uint8_t, kEfAcSize> kDefaultEfAc = {
    0x00, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF};
// Create_DF, Create_EF, Create_Kpub.
inline constexpr std::array<std::uint8_t, kFileSmSize> kDefaultFileSm = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// cmdPUT_DATA_OCI.
inline constexpr std::array<std::uint8_t, kObjectAcSize> kDefaultKeyObjectAc = {
    0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// Init_PIN, Init_PINex, Init_Logical, Create_Kpri, Create_Kpub_TestObj.
inline constexpr std::array<std::uint8_t, kObjectAcSize> kDefaultObjectAc = {};
// Every object command that carries an SM element.
inline constexpr std::array<std::uint8_t, kObjectSmSize> kDefaultObjectSm = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
// cmdPUT_DATA_SECI.
inline constexpr std::array<std::uint8_t, kSeAcSize> kDefaultSeAc = {};

} // namespace ombrix::descriptor
