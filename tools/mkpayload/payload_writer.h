// Builds the payload appended behind a program file: format version, time
// stamp, signature length, signature, ciphertext and the 34-byte trailer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mkpayload/key_set.h"

namespace mkpayload {

constexpr size_t kTrailerBytes = 34;
constexpr size_t kHeaderBytes = 138;  // version, time stamp, signature length, signature

// PKCS #1 v1.5 signature (SHA-1 DigestInfo) of `message` with the signing
// exponent, 128 bytes big-endian.
bool signSha1(const KeySet& keys, const std::vector<uint8_t>& message, std::vector<uint8_t>& signature,
              std::string& error);

// The payload for a program image of `programLength` bytes.
bool buildPayload(const KeySet& keys, const std::vector<uint8_t>& container, uint32_t timeStamp,
                  uint64_t programLength, std::vector<uint8_t>& payload, std::string& error);

// Writes `out` as a copy of `program` (its permissions too) with the payload of
// `container` appended. `out` may name `program`.
bool wrapProgram(const KeySet& keys, const std::string& containerPath, const std::string& programPath,
                 const std::string& outPath, uint32_t timeStamp, std::string& error);

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace mkpayload
