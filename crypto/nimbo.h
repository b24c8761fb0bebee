// The crypto module: every operation returns 0 on success and -1 on failure,
// and a failure on a bad argument leaves one of the codes of codes.h as the
// calling thread's last-error value (nimbo_GetLastError).
#pragma once

#include "crypto/bignum.h"
#include "crypto/cipher.h"
#include "crypto/codes.h"
#include "crypto/hash.h"
#include "crypto/last_error.h"
#include "crypto/rsa_verify.h"
