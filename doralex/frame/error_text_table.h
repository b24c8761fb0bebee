#pragma once

#include <span>

#include "doralex/doralex.h"

namespace dlx {

// All rows of the error-code table.
std::span<const ErrorTextRow> ErrorTextTable();

}  // namespace dlx
