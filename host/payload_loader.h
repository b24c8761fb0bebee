// Reads, decrypts and verifies the update container appended to the program
// file. Reports through the trace file and the start-up progress.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "host/payload_keys.h"

// From the program file (programPath) with the compiled-in keys. On success
// the plain container is in the first *length bytes of *buffer; on failure
// nothing is handed out and everything obtained is released.
bool LoadEmbeddedPayload(size_t* length, std::unique_ptr<uint8_t[]>* buffer);

// The same on any file with any keys. When `failureLine` is given it receives
// the trace text of a failure (with or without tracing on).
bool loadPayloadFile(const std::string& path, const PayloadKeys& keys, size_t* length,
                     std::unique_ptr<uint8_t[]>* buffer, std::string* failureLine = nullptr);
